% Values sent by Kuvosend come back from Kuvorecv with class, size and
% content exact; the serialize warning appears exactly when a value is
% serialized; raw int8 vectors travel as their bytes with the 0x00 '8' marker.
kuvo_test_setup();
P = 42100;
h = Kuvoinit(P);

s.matrix = magic(4);
s.cell = {1, 'two', {int8(3)}};
s.text = 'hello';
big = reshape(1:262144, 512, 512) / 7;   % 2 MB: about 2100 fragments
cases = {
  % value,                                expected back,            raw
  int8([1 -2 3 127 -128]),                int8([1 -2 3 127 -128]),  true
  int8([1; 2; 3]),                        int8([1 2 3]),            true
  int8([]),                               zeros(1, 0, 'int8'),      true
  zeros(0, 3, 'int8'),                    zeros(1, 0, 'int8'),      true
  int8(-5),                               int8(-5),                 true
  int8(1:999),                            int8(1:999),              true
  int8([1 2; 3 4]),                       int8([1 2; 3 4]),         false
  reshape(int8(1:5), 1, 1, 5),            reshape(int8(1:5), 1, 1, 5), false
  magic(4),                               magic(4),                 false
  [NaN Inf -Inf pi],                      [NaN Inf -Inf pi],        false
  [1+2i, 3-4i],                           [1+2i, 3-4i],             false
  single([1.5 2.5]),                      single([1.5 2.5]),        false
  uint8(0:255),                           uint8(0:255),             false
  int16([-32768 32767]),                  int16([-32768 32767]),    false
  uint16(65535),                          uint16(65535),            false
  int32([intmin('int32') intmax('int32')]), [intmin('int32') intmax('int32')], false
  uint32(4294967295),                     uint32(4294967295),       false
  [intmin('int64') intmax('int64')],      [intmin('int64') intmax('int64')], false
  intmax('uint64'),                       intmax('uint64'),         false
  logical([1 0; 0 1]),                    logical([1 0; 0 1]),      false
  'hello',                                'hello',                  false
  ['ab'; 'cd'],                           ['ab'; 'cd'],             false
  '',                                     '',                       false
  [],                                     [],                       false
  zeros(3, 0),                            zeros(3, 0),              false
  {},                                     {},                       false
  s.cell,                                 s.cell,                   false
  s,                                      s,                        false
  struct('a', {1, 'x'}, 'b', {{}, [1 2]}), struct('a', {1, 'x'}, 'b', {{}, [1 2]}), false
  big,                                    big,                      false
};

for k = 1:rows(cases)
  [value, expected, raw] = cases{k, :};
  [bytes, warned] = send_quiet(h, '127.0.0.1', P, value);
  what = sprintf('case %d (%s %s)', k, class(value), mat2str(size(value)));
  assert(warned == ~raw, '%s: serialize warning %d, expected %d', what, warned, ~raw);
  if raw
    assert(bytes == numel(value) + 2, '%s: %d bytes sent', what, bytes);
  else
    assert(bytes > 2, '%s: %d bytes sent', what, bytes);
  end
  [got, ip, port] = receive_n(h, 1);
  back = got{1};
  assert(strcmp(class(back), class(expected)), '%s: came back as %s', what, class(back));
  assert(isequal(size(back), size(expected)), '%s: came back %s', what, mat2str(size(back)));
  assert(isequaln(back, expected), '%s: content differs', what);
  assert(isreal(back) == isreal(expected), '%s: complexity differs', what);
  assert(strcmp(ip{1}, '127.0.0.1') && port == P, '%s: sender %s:%d', what, ip{1}, port);
end

% On the wire: body, 0x00, marker.
Q = P + 1;
[pid, outFile] = raw_listen(Q, 4, 3000);
send_quiet(h, '127.0.0.1', Q, int8([1 2 3 4 5]));
send_quiet(h, '127.0.0.1', Q + 0.9, int8([1; 2; 3; 4; 5]));   % the port is truncated
send_quiet(h, '127.0.0.1', Q, int8([]));
send_quiet(h, '127.0.0.1', Q, 42);
for attempt = 1:200
  lines = raw_lines(outFile);
  if numel(lines) >= 5, break; end
  pause(0.01);
end
kill(pid, 15);
waitpid(pid);
delete(outFile);
assert(numel(lines) == 5, 'raw receiver got %d datagrams', numel(lines) - 1);
assert(strcmp(lines{2}, '01020304050038'), lines{2});
assert(strcmp(lines{3}, '01020304050038'), lines{3});
assert(strcmp(lines{4}, '0038'), lines{4});
assert(numel(lines{5}) > 4 && strcmp(lines{5}(end-3:end), '0053'), lines{5});

% A send through a handle that is no open socket fails without an error.
assert(Kuvosend(uint64(2^40), '127.0.0.1', P, int8(1)) == -1);

Kuvoclose(h);
printf('test_roundtrip: %d values checked\n', rows(cases));
