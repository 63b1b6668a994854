% Receiving: empty results, the count rules, senders' addresses and ports,
% and messages from programs that add no marker, hostile ones included.
kuvo_test_setup();
P = 42200;
h = Kuvoinit(P);
other = Kuvoinit(P + 1);

%% Nothing queued, or a handle nobody holds: empty results of the right kind.
for handle = {h, uint64(2^40)}
  d = Kuvorecv(handle{1});
  assert(iscell(d) && isequal(size(d), [1 0]));
  [d, ip, port] = KuvorecvIP(handle{1}, []);
  assert(iscell(d) && isequal(size(d), [1 0]) && iscell(ip) && isequal(size(ip), [1 0]));
  assert(isa(port, 'uint16') && isequal(size(port), [1 0]));
end

%% Count rules, with three messages queued. A call may never return more than
% its count; returning fewer only means the messages were not all in yet, so
% the scenario is repeated with a longer settling time before it counts as
% failed.
scenarios = {
  % counts of the successive calls,   messages each call must return
  {1, 2, []},                         [1 2 0]
  {[]},                               3
  {0, 0.5, -0.5},                     [1 1 1]
  {int8(2), uint64(5)},               [2 1]
};
for k = 1:rows(scenarios)
  [counts, want] = scenarios{k, :};
  passed = false;
  for settle = [0.05 0.1 0.2 0.4 0.8]
    tags = int8(10 * k + (1:3));
    for t = tags
      Kuvosend(other, '127.0.0.1', P, t);
    end
    pause(settle);
    got = {};
    complete = true;
    for c = 1:numel(counts)
      d = Kuvorecv(h, counts{c});
      assert(numel(d) <= max(want(c), 1), 'scenario %d call %d returned %d messages', k, c, numel(d));
      complete = complete && numel(d) == want(c);
      got = [got d];
    end
    if numel(got) < 3
      got = [got receive_n(h, 3 - numel(got))];
    end
    assert(isequal(got, num2cell(tags)), 'scenario %d: messages out of order or altered', k);
    if complete
      passed = true;
      break;
    end
  end
  assert(passed, 'scenario %d: the calls never returned %s', k, mat2str(want));
end

%% Senders: dotted IPv4 text and uint16 port; IPv6 text.
Kuvosend(other, '127.0.0.1', P, int8(1));
[d, ip, port] = receive_n(h, 1);
assert(strcmp(ip{1}, '127.0.0.1') && ischar(ip{1}) && isequal(size(ip{1}), [1 9]));
assert(isa(port, 'uint16') && port == P + 1);
Kuvosend(other, '::1', P, int8(2));
[d, ip, port] = receive_n(h, 1);
assert(strcmp(ip{1}, '::1') && port == P + 1, 'IPv6 sender %s:%d', ip{1}, port);

%% Messages from a plain program: the int8 row of their bytes, unless they
% end in a marker. A message ending in 0x00 'S' whose bytes are no valid
% stream is delivered as its bytes too, at the head of a batch or amid it,
% and the rest of the batch arrives intact.
hostile = [uint8('not a stream') 0 uint8('S')];
src = raw_send(P, hostile);
[d, ip, port] = receive_n(h, 1);
assert(isequal(d, {int8(hostile)}), 'hostile message at the head of a batch');
assert(strcmp(ip{1}, '127.0.0.1') && port == src);

raw = {
  % sent,                          received
  uint8('hello'),                  int8('hello')
  uint8([0 '8']),                  zeros(1, 0, 'int8')
  uint8([0 'S']),                  int8([0 83])
  uint8([1 2 3 0 '8']),            int8([1 2 3])
  hostile,                         int8(hostile)
  uint8([255 0 'S']),              int8([-1 0 83])
  uint8([0 'S' 0 '8']),            int8([0 83])
  uint8(0:255),                    int8(typecast(uint8(0:255), 'int8'))
};
src = raw_send(P, raw{:, 1});
[d, ip, port] = receive_n(h, rows(raw));
for k = 1:rows(raw)
  assert(isequal(class(d{k}), 'int8') && isequal(size(d{k}), size(raw{k, 2})) && ...
         isequal(d{k}, raw{k, 2}), 'raw message %d came back as %s', k, mat2str(d{k}));
end
assert(all(strcmp(ip, '127.0.0.1')) && all(port == src));

Kuvoclose(h);
Kuvoclose(other);
printf('test_receive: passed\n');
