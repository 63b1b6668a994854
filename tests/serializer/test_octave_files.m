function test_octave_files()
  % The reader parses the element that Octave's own `save -v6` writes for a
  % variable: its layout choices (miUTF16 rows, miUTF8 char matrices, nzmax
  % at capacity, the global flag, a non-empty name) are all accepted.
  % Chars stored as miUTF8 with 1 to 4 bytes are left out: Octave writes
  % their element's byte count 4 too large.
  cases = {
    'double',          magic(4)
    'double NaN Inf',  [NaN -0 Inf -Inf]
    'complex',         [1+2i 3-4i]
    'single',          single([1 2.5])
    'int16',           int16([-32768 0 32767])
    'uint64',          intmax('uint64')
    'logical',         logical([1 0; 0 1])
    'empty 0x3',       zeros(0, 3)
    'n-d',             reshape(1:8, 2, 2, 2)
    'char row',        'hello'
    'char empty row',  char(zeros(1, 0))
    'char matrix',     ['abc'; 'def']
    'char 0x0',        ''
    'cell',            {1, 'abc'; {}, int8([1 2])}
    'empty cell',      {}
    'struct',          struct('a', 1, 'bb', 'xyz')
    'struct array',    struct('v', {1, [2 3]})
    'empty struct',    struct('a', {})
    'sparse',          sparse([1 0 0; 0 0 2; 0 3 0])
    'sparse empty',    sparse(2, 3)
    'sparse complex',  sparse([1i 0; 0 2])
  };
  file = [tempname() '.mat'];
  cleanup = onCleanup(@() delete(file));
  for k = 1:rows(cases)
    [label, x] = cases{k, :};
    save('-v6', file, 'x');
    got = kuvo_stream_test('read', element_of(file, label));
    assert_same(got, x, [label ' (save -v6)']);
  end

  % A one-row char with non-ASCII text: Octave stores UTF-16 units; units up
  % to 0xFF narrow to one byte each, a unit beyond makes the stream invalid.
  x = 'héllo';
  save('-v6', file, 'x');
  assert_same(kuvo_stream_test('read', element_of(file, 'latin')), char([104 233 108 108 111]), ...
              'latin');
  x = 'a€';
  save('-v6', file, 'x');
  assert(!kuvo_stream_test('valid', element_of(file, 'euro')), 'unit 0x20AC accepted');

  % A global variable's element carries the global flag, which is ignored.
  global kuvo_global_value
  kuvo_global_value = [1 2 3];
  save('-v6', file, 'kuvo_global_value');
  bytes = element_of(file, 'global');
  assert(bitand(bytes(18), 4) == 4, 'global flag not set by save');
  assert_same(kuvo_stream_test('read', bytes), [1 2 3], 'global');
  clear -global kuvo_global_value

  % A compressed element (save -v7) is no stream.
  x = 1:10;
  save('-v7', file, 'x');
  bytes = element_of(file, 'compressed');
  assert(bytes(1) == 15, 'save -v7 wrote no miCOMPRESSED element');
  assert(!kuvo_stream_test('valid', bytes), 'miCOMPRESSED accepted');
end

% The bytes after the 128-byte header of a little-endian MAT file.
function bytes = element_of(file, label)
  fid = fopen(file, 'r');
  bytes = fread(fid, Inf, 'uint8=>uint8')';
  fclose(fid);
  assert(numel(bytes) > 128 && isequal(char(bytes(127:128)), 'IM'), '%s: header', label);
  bytes = bytes(129:end);
end
