function test_reader()
  % Streams made by hand: what other writers may legally produce is read,
  % and every malformed, truncated or oversized stream is refused cleanly.
  one = mat(head(6, 0, [1 1]), el(9, dbl(1)));   % the double 1
  hdr = @(varargin) head(varargin{:});

  accepted = {
    'double as miUINT8',        mat(hdr(6, 0, [1 3]), sm(2, [1 2 255])),              [1 2 255]
    'double as miINT16',        mat(hdr(6, 0, [1 2]), sm(3, i16([-5 7]))),            [-5 7]
    'double as miSINGLE',       mat(hdr(6, 0, [1 1]), sm(7, typecast(single(1.5), 'uint8'))), 1.5
    'int64 as miUINT8',         mat(hdr(14, 0, [1 2]), sm(2, [0 200])),               int64([0 200])
    'int8 rounds, saturates',   mat(hdr(8, 0, [1 5]), el(9, dbl([300 -300 2.5 -1.5 NaN]))), int8([127 -128 3 -2 0])
    'uint16 from int32',        mat(hdr(11, 0, [1 3]), el(5, i32([-1 70000 5]))),     uint16([0 65535 5])
    'uint64 from int64',        mat(hdr(15, 0, [1 2]), el(12, typecast(int64([-1 intmax('int64')]), 'uint8'))), uint64([0 intmax('int64')])
    'single beyond range',      mat(hdr(7, 0, [1 2]), el(9, dbl([1e300 -1e300]))),    single([Inf -Inf])
    'complex, mixed part types', mat(hdr(6, 8, [1 2]), sm(2, [1 2]), el(9, dbl([-1 0.5]))), complex([1 2], [-1 0.5])
    'logical flag on double',   mat(hdr(6, 2, [1 3]), sm(2, [0 2 1])),                logical([0 1 1])
    'logical from miDOUBLE',    mat(hdr(9, 2, [1 3]), el(9, dbl([0 -0 NaN]))),        logical([0 0 1])
    'small data in normal form', mat(hdr(4, 0, [1 2]), el(4, [104 0 105 0])),         'hi'
    'named, small-form name',   mat(el(6, u32(6, 0)), el(5, i32([1 1])), sm(1, 'x'), el(9, dbl(3))), 3
    'name as miUINT8',          mat(el(6, u32(6, 0)), el(5, i32([1 1])), el(2, 'abcdef'), el(9, dbl(3))), 3
    'global and unused bits',   mat(el(6, u32(6 + 4 * 256 + 2^20, 99)), el(5, i32([1 1])), el(1, []), el(9, dbl(3))), 3
    'tag-only matrix',          u32(14, 0),                                           []
    'tag-only matrix in cell',  mat(hdr(1, 0, [1 2]), u32(14, 0), one),               {[], 1}
    'struct L = 5',             mat(hdr(2, 0, [1 1]), sm(5, i32(5)), el(1, slots(5, 'ab', 'cd')), one, mat(hdr(4, 0, [1 1]), sm(4, [120 0]))), struct('ab', 1, 'cd', 'x')
    'struct L normal, no NUL',  mat(hdr(2, 0, [1 1]), el(5, i32(2)), el(2, 'xy'), one), struct('xy', 1)
    'char as miUINT8',          mat(hdr(4, 0, [1 2]), sm(2, 'hi')),                   'hi'
    'char as miINT8',           mat(hdr(4, 0, [2 1]), sm(1, 'ab')),                   ['a'; 'b']
    'char miUTF8 raw bytes',    mat(hdr(4, 0, [1 3]), sm(16, [104 233 0])),           char([104 233 0])
    'char miUTF8 decoded',      mat(hdr(4, 0, [1 2]), sm(16, [195 169 120])),         char([233 120])
    'char as miUTF16',          mat(hdr(4, 0, [1 1]), sm(17, [120 0])),               'x'
    'char as miUTF32',          mat(hdr(4, 0, [1 2]), el(18, u32(104, 255))),         char([104 255])
    'sparse, extra entries',    mat(hdr(5, 0, [2 2], 3), sm(5, i32(1)), el(5, i32([0 1 1])), el(9, dbl([5 9 9]))), sparse([0 0; 5 0])
    'sparse ir beyond nnz',     mat(hdr(5, 0, [2 2], 3), el(5, i32([1 7 -3])), el(5, i32([0 1 1])), sm(2, 7)), sparse([0 0; 7 0])
    'sparse logical',           mat(hdr(5, 2, [2 1], 1), sm(5, i32(1)), el(5, i32([0 1])), sm(2, 1)), sparse(logical([0; 1]))
  };
  for k = 1:rows(accepted)
    [label, bytes, value] = accepted{k, :};
    assert(kuvo_stream_test('valid', bytes), '%s: refused', label);
    assert_same(kuvo_stream_test('read', bytes), value, label);
  end

  % A struct array without fields holds nothing, whatever its size.
  v = kuvo_stream_test('read', mat(hdr(2, 0, [2^31-1 2^31-1]), sm(5, i32(64)), el(1, [])));
  assert(isstruct(v) && isequal(size(v), [2^31-1 2^31-1]) && isempty(fieldnames(v)), 'no fields');

  refused = {
    'empty',                   uint8([])
    'shorter than a tag',      uint8([14 0 0 0])
    'top level not a matrix',  [u32(9, 8) dbl(1)]
    'top level compressed',    [u32(15, 8) zeros(1, 8)]
    'top level small form',    [u32(14 + 4 * 65536) zeros(1, 4)]
    'top count too large',     [u32(14, numel(one)) one(9:end)]
    'trailing bytes',          [one zeros(1, 8)]
    'extra element',           mat(hdr(6, 0, [1 1]), el(9, dbl(1)), el(9, dbl(2)))
    'element past its matrix', mat(hdr(6, 0, [1 1]), u32(9, 16), dbl(1))
    'padding past its matrix', mat(hdr(6, 0, [1 5]), u32(2, 5), 1:5)
    'child past its parent',   mat(hdr(1, 0, [1 1]), u32(14, 64), one(9:end))
    'small form of 5 bytes',   mat(hdr(6, 0, [1 1]), u32(9 + 5 * 65536), dbl(1))
    'small-form matrix child', mat(hdr(1, 0, [1 1]), u32(14 + 4 * 65536), zeros(1, 4))
    'flags not miUINT32',      mat(el(5, u32(6, 0)), el(5, i32([1 1])), el(1, []), el(9, dbl(1)))
    'flags of 4 bytes',        mat(sm(6, u32(6)), el(5, i32([1 1])), el(1, []), el(9, dbl(1)))
    'one dimension',           mat(el(6, u32(6, 0)), sm(5, i32(1)), el(1, []), el(9, dbl(1)))
    'negative dimension',      mat(hdr(6, 0, [1 -1]), el(9, []))
    'dimensions as miUINT32',  mat(el(6, u32(6, 0)), el(6, u32(1, 1)), el(1, []), el(9, dbl(1)))
    'dimension bytes odd',     mat(el(6, u32(6, 0)), el(5, [1 0 0 0 1 0 0 0 1 0]), el(1, []), el(9, dbl(1)))
    'name not miINT8',         mat(el(6, u32(6, 0)), el(5, i32([1 1])), el(9, []), el(9, dbl(1)))
    'name missing',            mat(el(6, u32(6, 0)), el(5, i32([0 0])))
    'reserved storage type 8', mat(hdr(6, 0, [1 1]), el(8, dbl(1)))
    'storage type miUTF8',     mat(hdr(6, 0, [1 1]), sm(16, 1))
    'unknown storage type 19', mat(hdr(6, 0, [1 1]), el(19, dbl(1)))
    'count not a type size',   mat(hdr(6, 0, [1 1]), sm(3, [1 2 3]))
    'count differs from numel', mat(hdr(6, 0, [1 2]), el(9, dbl(1)))
    'imaginary part missing',  mat(hdr(6, 8, [1 1]), el(9, dbl(1)))
    'imaginary count differs', mat(hdr(6, 8, [1 1]), el(9, dbl(1)), el(9, dbl([1 2])))
    'class 0',                 mat(hdr(0, 0, [1 1]), el(9, dbl(1)))
    'class 3 (object)',        mat(hdr(3, 0, [1 1]), el(9, dbl(1)))
    'class 16 (function)',     mat(hdr(16, 0, [1 1]), el(9, dbl(1)))
    'class 17 (opaque)',       mat(hdr(17, 0, [1 1]), el(9, dbl(1)))
    'class 255',               mat(hdr(255, 0, [1 1]), el(9, dbl(1)))
    'complex char',            mat(hdr(4, 8, [1 1]), sm(4, [104 0]))
    'complex cell',            mat(hdr(1, 8, [0 0]))
    'complex struct',          mat(hdr(2, 8, [1 1]), sm(5, i32(64)), el(1, []))
    'complex logical',         mat(hdr(9, 10, [1 1]), sm(2, 1), sm(2, 1))
    'complex int32 on Octave', mat(hdr(12, 8, [1 1]), sm(5, i32(1)), sm(5, i32(1)))
    'char unit above 0xFF',    mat(hdr(4, 0, [1 1]), sm(4, [172 32]))
    'char beyond U+FFFF',      mat(hdr(4, 0, [1 1]), sm(16, [240 159 152 128]))
    'char overlong utf-8',     mat(hdr(4, 0, [1 2]), sm(16, [192 128 120]))
    'char surrogate utf-8',    mat(hdr(4, 0, [1 2]), sm(16, [237 160 128 120]))
    'char truncated utf-8',    mat(hdr(4, 0, [1 2]), sm(16, [120 226 130]))
    'char utf-8 too short',    mat(hdr(4, 0, [1 4]), sm(16, [195 169 120]))
    'char odd unit count',     mat(hdr(4, 0, [1 1]), sm(4, [104 0 105]))
    'char as miDOUBLE',        mat(hdr(4, 0, [1 1]), el(9, dbl(104)))
    'huge double, 8 bytes',    mat(hdr(6, 0, [2^31-1 2^31-1]), el(9, dbl(1)))
    'huge cell, no elements',  mat(hdr(1, 0, [65536 65536]))
    'huge char, 1 byte',       mat(hdr(4, 0, [2^31-1 1]), sm(2, 'a'))
    'huge struct, one value',  mat(hdr(2, 0, [100000 100000]), sm(5, i32(64)), el(1, slots(64, 'a')), one)
    'empty, dims overflow',    mat(hdr(6, 0, [repmat(2^31-1, 1, 5) 0]), el(9, []))
    'sparse with 3 dims',      mat(hdr(5, 0, [2 2 2], 1), el(5, []), el(5, i32([0 0 0])), el(9, []))
    'sparse jc(1) not 0',      mat(hdr(5, 0, [2 1], 1), sm(5, i32(0)), el(5, i32([1 1])), el(9, dbl(1)))
    'sparse jc decreasing',    mat(hdr(5, 0, [2 2], 1), sm(5, i32(0)), el(5, i32([0 1 0])), el(9, dbl(1)))
    'sparse nnz beyond ir',    mat(hdr(5, 0, [2 1], 2), sm(5, i32(0)), el(5, i32([0 2])), el(9, dbl([1 2])))
    'sparse nnz beyond pr',    mat(hdr(5, 0, [2 1], 2), el(5, i32([0 1])), el(5, i32([0 2])), el(9, dbl(1)))
    'sparse row out of range', mat(hdr(5, 0, [2 1], 1), sm(5, i32(2)), el(5, i32([0 1])), el(9, dbl(1)))
    'sparse negative row',     mat(hdr(5, 0, [2 1], 1), sm(5, i32(-1)), el(5, i32([0 1])), el(9, dbl(1)))
    'sparse duplicate row',    mat(hdr(5, 0, [2 1], 2), el(5, i32([1 1])), el(5, i32([0 2])), el(9, dbl([1 2])))
    'sparse rows descending',  mat(hdr(5, 0, [2 1], 2), el(5, i32([1 0])), el(5, i32([0 2])), el(9, dbl([1 2])))
    'sparse jc too short',     mat(hdr(5, 0, [2 2], 1), el(5, []), el(5, i32([0 0])), el(9, []))
    'sparse huge n, short jc', mat(hdr(5, 0, [1 2^31-1], 1), el(5, []), el(5, i32([0 0])), el(9, []))
    'sparse ir as miDOUBLE',   mat(hdr(5, 0, [2 1], 1), el(9, dbl(0)), el(5, i32([0 1])), el(9, dbl(1)))
    'sparse complex logical',  mat(hdr(5, 10, [1 1], 1), sm(5, i32(0)), el(5, i32([0 1])), sm(2, 1), sm(2, 1))
    'sparse pi missing',       mat(hdr(5, 8, [1 1], 1), sm(5, i32(0)), el(5, i32([0 1])), el(9, dbl(1)))
    'struct L missing',        mat(hdr(2, 0, [1 1]), el(1, slots(2, 'a')), one)
    'struct L not miINT32',    mat(hdr(2, 0, [1 1]), sm(6, u32(2)), el(1, slots(2, 'a')), one)
    'struct L zero',           mat(hdr(2, 0, [1 1]), sm(5, i32(0)), el(1, []))
    'struct L negative',       mat(hdr(2, 0, [1 1]), sm(5, i32(-64)), el(1, []))
    'struct names not L-wide', mat(hdr(2, 0, [1 1]), sm(5, i32(2)), el(1, 'abc'), one)
    'struct empty name',       mat(hdr(2, 0, [1 1]), sm(5, i32(2)), el(1, slots(2, 'a', '')), one, one)
    'struct duplicate names',  mat(hdr(2, 0, [1 1]), sm(5, i32(2)), el(1, slots(2, 'a', 'a')), one, one)
    'struct value missing',    mat(hdr(2, 0, [1 1]), sm(5, i32(2)), el(1, slots(2, 'a', 'b')), one)
    'struct extra value',      mat(hdr(2, 0, [1 1]), sm(5, i32(2)), el(1, slots(2, 'a')), one, one)
    'struct value invalid',    mat(hdr(2, 0, [1 1]), sm(5, i32(2)), el(1, slots(2, 'a')), mat(hdr(3, 0, [1 1])))
    'cell element missing',    mat(hdr(1, 0, [1 2]), one)
    'cell element not matrix', mat(hdr(1, 0, [1 1]), el(9, dbl(1)))
    'cell element invalid',    mat(hdr(1, 0, [1 2]), one, mat(hdr(6, 0, [1 1])))
    'nesting of 201 levels',   mat(hdr(1, 0, [1 1]), kuvo_stream_test('write', nest(199)))
    'nesting of 10^5 levels',  deep(1e5)
  };
  for k = 1:rows(refused)
    assert(!kuvo_stream_test('valid', uint8(refused{k, 2})), '%s: accepted', refused{k, 1});
  end
  try
    kuvo_stream_test('read', one(1:end-1));
    error('read of an invalid stream returned');
  catch err
    assert(strcmp(err.identifier, 'kuvo_stream_test:invalid'), err.message);
  end

  % Truncated at every length: as sent (the length no longer matches) and
  % with the top-level count patched to match, so the inner checks must hold
  % (8 bytes with count 0 is the tag-only [] and valid).
  rich = kuvo_stream_test('write', {1, 'ab', true(2, 1, 2); ...
                                    struct('f', int8(3), 'g', {{}}), sparse([0 2i; 3 0]), single(1:3)});
  assert(kuvo_stream_test('valid', rich), 'rich stream refused');
  for n = 0:numel(rich) - 1
    cut = rich(1:n);
    assert(!kuvo_stream_test('valid', cut), 'truncated to %d accepted', n);
    if n > 8
      cut(5:8) = u32(n - 8);
      assert(!kuvo_stream_test('valid', cut), 'truncated to %d, count patched, accepted', n);
    end
  end
  % Every single-byte corruption is read or refused, never a crash.
  for n = 1:numel(rich)
    bad = rich;
    bad(n) = bitxor(bad(n), 255);
    kuvo_stream_test('valid', bad);
  end
end

% ----- stream building blocks (little-endian) -----

function b = u32(varargin)
  b = typecast(uint32([varargin{:}]), 'uint8');
end

function b = i32(x)
  b = typecast(int32(x), 'uint8');
end

function b = i16(x)
  b = typecast(int16(x), 'uint8');
end

function b = dbl(x)
  b = typecast(double(x), 'uint8');
end

% Element in the normal form: tag, data, zero padding to 8 bytes.
function b = el(type, data)
  data = uint8(data(:)');
  b = [u32(type, numel(data)) data zeros(1, mod(-numel(data), 8), 'uint8')];
end

% Element in the small form: type and count in one word, up to 4 data bytes.
function b = sm(type, data)
  data = uint8(data(:)');
  b = [u32(type + 65536 * numel(data)) data zeros(1, 4 - numel(data), 'uint8')];
end

% Field names, each NUL-padded to a slot of L bytes.
function b = slots(L, varargin)
  b = zeros(L, numel(varargin));
  for k = 1:numel(varargin)
    b(1:numel(varargin{k}), k) = double(varargin{k});
  end
  b = b(:)';
end

% miMATRIX around the given parts.
function b = mat(varargin)
  parts = cellfun(@(p) uint8(p(:)'), varargin, 'UniformOutput', false);
  content = [parts{:}];
  b = [u32(14, numel(content)) content];
end

% Flags, dimensions and an empty name.
function b = head(cls, flags, dims, nzmax)
  if nargin < 4
    nzmax = 0;
  end
  b = [el(6, u32(cls + 256 * flags, nzmax)) el(5, i32(dims)) el(1, [])];
end

% 1x1 cells nested `levels` deep around a tag-only matrix; 48 bytes a level.
function b = deep(levels)
  counts = typecast(uint32(48 * (levels:-1:1)), 'uint8');
  block = [repmat(uint8([14 0 0 0])', 1, levels); reshape(counts, 4, levels); ...
           repmat(head(1, 0, [1 1])', 1, levels)];
  b = [block(:)' u32(14, 0)];
end
