function assert_same(got, expected, label)
  % Fails unless got equals expected in class, size, sparsity, complexity,
  % field names and order, and every bit of every floating-point value
  % (NaN and -0 included).
  assert(strcmp(class(got), class(expected)), '%s: class %s, expected %s', ...
         label, class(got), class(expected));
  assert(isequal(size(got), size(expected)), '%s: size %s, expected %s', ...
         label, mat2str(size(got)), mat2str(size(expected)));
  assert(issparse(got) == issparse(expected), '%s: sparsity differs', label);
  if iscell(expected)
    for k = 1:numel(expected)
      assert_same(got{k}, expected{k}, sprintf('%s{%d}', label, k));
    end
  elseif isstruct(expected)
    assert(isequal(fieldnames(got), fieldnames(expected)), '%s: field names differ', label);
    names = fieldnames(expected);
    for k = 1:numel(expected)
      for f = 1:numel(names)
        assert_same(got(k).(names{f}), expected(k).(names{f}), ...
                    sprintf('%s(%d).%s', label, k, names{f}));
      end
    end
  else
    assert(iscomplex(got) == iscomplex(expected), '%s: complexity differs', label);
    assert(isequaln(got, expected), '%s: values differ', label);
    if isfloat(expected)
      if issparse(expected)
        [~, ~, got] = find(got);
        [~, ~, expected] = find(expected);
      end
      assert(isequal(float_bits(got), float_bits(expected)), '%s: float bits differ', label);
    end
  end
end

function bits = float_bits(x)
  x = full(x(:));
  bits = [typecast(real(x), 'uint8'); typecast(imag(x), 'uint8')];
end
