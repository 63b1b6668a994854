function [names, values] = demo_values()
  % What the demo sends, rebuilt the same way by both processes so that the
  % receiver can tell whether each value arrived unchanged.
  s.matrix = magic(4);
  s.cell = {1, 'two', int16([3 4 5])};
  s.text = 'Kuvo carries any value';
  names = {'struct', '10 MB double matrix', 'int8 row'};
  values = {s, reshape((1:1250000) * pi, 1250, 1000), int8(-128:127)};
end
