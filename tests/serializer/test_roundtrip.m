function test_roundtrip()
  % Values written by the serializer come back exactly (class, size,
  % sparsity, complexity, every bit of every float), and Octave's own load
  % reads the same element as a MAT file.
  ints = {@int8, @uint8, @int16, @uint16, @int32, @uint32, @int64, @uint64};
  cases = {
    'double scalar',        1
    'double NaN Inf -0',    [NaN -NaN Inf -Inf -0 0 realmax realmin eps -realmin/4]
    'double column',        pi * (1:5)'
    'double complex',       [1+2i, complex(-0, -0), complex(NaN, 1), complex(0, -Inf)]
    'double 3-d',           reshape(1:24, 2, 3, 4)
    'double 4-d complex',   complex(reshape(1:16, 2, 2, 2, 2), -reshape(1:16, 2, 2, 2, 2))
    'double 0x0',           []
    'double 0x3',           zeros(0, 3)
    'double 2x0x4',         zeros(2, 0, 4)
    'range',                1:5
    'diagonal matrix',      eye(3)
    'single',               single([1.5 -0 NaN Inf -Inf realmax('single') realmin('single')])
    'single complex',       single([1+1i -0.5-2i])
    'single empty',         single(zeros(1, 0))
    'logical scalar',       true
    'logical matrix',       logical([1 0; 0 1; 1 1])
    'logical 3-d',          true(2, 1, 3)
    'logical 0x3',          false(0, 3)
    'char row',             'hello'
    'char matrix',          ['abc'; 'def']
    'char column',          'abc'''
    'char 3-d',             repmat('xy', [2 1 2])
    'char 0x0',             ''
    'char 1x0',             char(zeros(1, 0))
    'char 0x3',             char(zeros(0, 3))
    'char all bytes',       char(0:255)
    'char utf-8 bytes',     'h€llo'
    'cell empty',           {}
    'cell 2x0',             cell(2, 0)
    'cell unset elements',  cell(2, 2)
    'cell mixed',           {1, 'a'; [1 2 3], {}}
    'cell 1x1x3',           reshape({1, 'b', {2}}, 1, 1, 3)
    'cell nested',          {{{{{int8(-1)}}}}}
    'struct scalar',        struct('a', 1, 'b', 'text', 'c', {{1, 2}})
    'struct no fields',     struct()
    'struct 0x0 fields',    struct('a', {}, 'b', {})
    'struct 2x0 field',     struct('a', cell(2, 0))
    'struct 1x3',           struct('v', {1, 'two', {3}})
    'struct 2x2',           reshape(struct('p', {1, 2, 3, 4}, 'q', {'a', 'b', 'c', 'd'}), 2, 2)
    'struct long name',     struct(repmat('n', 1, 63), 7)
    'struct nested',        struct('inner', struct('deep', {{struct('x', sparse(1))}}))
    'sparse',               sparse([1 0 0; 0 0 -0.5; 0 2 0])
    'sparse NaN -Inf',      sparse([NaN 0; 0 -Inf])
    'sparse complex',       sparse([1i 0; 0 2-1i])
    'sparse no nonzeros',   sparse(2, 3)
    'sparse 0x0',           sparse([])
    'sparse 0x5',           sparse(0, 5)
    'sparse wide',          sparse(1, 1000:1000:100000, 1:100, 1, 100000)
    'sparse logical',       sparse(logical([1 0; 0 1; 1 0]))
    'sparse logical empty', sparse(false(3, 0))
  };
  for k = 1:numel(ints)
    f = ints{k};
    cases(end + 1, :) = {func2str(f), f([intmin(func2str(f)) 0 1 intmax(func2str(f))])};
    cases(end + 1, :) = {[func2str(f) ' 3-d'], f(reshape(0:7, 2, 2, 2))};
  end
  cases(end + 1, :) = {'200 levels', nest(199)};

  % What Octave's load makes of our element where it differs from the value.
  loaded = struct( ...
    'char_1x0', char(zeros(0, 0)), ...         % 16-bit units: 1x0 loads as 0x0
    'sparse_logical', sparse([1 0; 0 1; 1 0]), ... % class 5 + logical: double
    'sparse_logical_empty', sparse(3, 0));
  % Octave's load turns 16-bit units above 0x7F into UTF-8: those differ.
  noLoad = {'char all bytes', 'char utf-8 bytes'};

  file = [tempname() '.mat'];
  cleanup = onCleanup(@() delete_if_exists(file));
  for k = 1:rows(cases)
    [label, value] = cases{k, :};
    bytes = kuvo_stream_test('write', value);
    assert(isa(bytes, 'uint8') && rows(bytes) == 1, '%s: not a uint8 row', label);
    assert(mod(numel(bytes), 8) == 0, '%s: length %d not a multiple of 8', label, numel(bytes));
    assert(isequal(bytes(1:4), uint8([14 0 0 0])), '%s: not a miMATRIX', label);
    assert(double(typecast(bytes(5:8), 'uint32')) == numel(bytes) - 8, '%s: byte count', label);
    assert_same(kuvo_stream_test('read', bytes), value, label);

    if any(strcmp(label, noLoad))
      continue;
    end
    key = strrep(strrep(label, ' ', '_'), '-', '_');
    expected = value;
    if isfield(loaded, key)
      expected = loaded.(key);
    end
    write_file(file, kuvo_stream_test('file', value, 'x'));
    s = load(file);
    assert_same(s.x, expected, [label ' (load)']);
  end

  % Worked examples: exact bytes.
  examples = {
    1,    ['0e000000380000000600000008000000060000000000000005000000080000000100000001000000' ...
           '0100000000000000090000000800000000000000' '0000f03f']
    'hi', ['0e000000300000000600000008000000040000000000000005000000080000000100000002000000' ...
           '01000000000000000400040068006900']
    {},   ['0e000000280000000600000008000000010000000000000005000000080000000000000000000000' ...
           '0100000000000000']
    true, ['0e000000300000000600000008000000090200000000000005000000080000000100000001000000' ...
           '01000000000000000200010001000000']
  };
  for k = 1:rows(examples)
    got = sprintf('%02x', kuvo_stream_test('write', examples{k, 1}));
    assert(strcmp(got, examples{k, 2}), 'example %d: got %s', k, got);
  end

  % Octave returns a complex array without non-zero imaginary parts as real,
  % so an empty complex array is checked on the bytes: flag and both parts.
  bytes = kuvo_stream_test('write', complex(zeros(0, 2), zeros(0, 2)));
  assert(bytes(18) == 8 && numel(bytes) == 64, 'empty complex: flags or parts');

  % Values the format cannot carry are refused as a whole, naming the culprit.
  refused = {
    @sin,                                  'function_handle'
    {1, {2, @cos}},                        'function_handle'
    struct('a', {1, @(x) x}),              'function_handle'
    containers.Map(),                      'containers.Map'
    struct(repmat('n', 1, 64), 1),         'longer than 63 bytes'
    nest(200),                             'deeper than 200 levels'
  };
  for k = 1:rows(refused)
    try
      kuvo_stream_test('write', refused{k, 1});
      error('refusal %d: written', k);
    catch err
      assert(strcmp(err.identifier, 'kuvo_stream_test:unsupported'), ...
             'refusal %d: %s', k, err.message);
      assert(!isempty(strfind(err.message, refused{k, 2})), 'refusal %d: %s', k, err.message);
    end
  end
end

function write_file(file, bytes)
  fid = fopen(file, 'w');
  fwrite(fid, bytes, 'uint8');
  fclose(fid);
end

function delete_if_exists(file)
  if exist(file, 'file')
    delete(file);
  end
end
