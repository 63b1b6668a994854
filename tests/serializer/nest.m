% A cell nested `levels` deep around a scalar: levels + 1 arrays in all.
function v = nest(levels)
  v = 1;
  for k = 1:levels
    v = {v};
  end
end
