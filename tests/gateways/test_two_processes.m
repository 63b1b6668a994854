% A second Octave process as the peer: values sent to it come back equal.
kuvo_test_setup();
warning('off', 'Kuvosend:Input3:serialize');
P = 42400;
peerPort = P + 1;
h = Kuvoinit(P);

values = {
  struct('matrix', magic(5), 'cell', {{1, 'two', int16([3 4])}}, 'text', 'hello')
  rand(512, 512)                 % 2 MB, fragmented
  int8(-128:127)
  {}
};
cmd = sprintf(['exec "%s" --no-gui --norc --quiet --no-history --eval ' ...
               '"addpath(''%s''); addpath(''%s''); peer_echo(%d, %d, %d)"'], ...
              getenv('KUVO_OCTAVE'), fullfile(getenv('KUVO_TEST_DIR'), 'lib'), ...
              getenv('KUVO_TEST_DIR'), peerPort, P, numel(values));
pid = system(cmd, false, 'async');

% The peer announces itself once its socket is open (Octave takes a moment
% to start).
ready = {};
for attempt = 1:1500
  [ready, ip, port] = KuvorecvIP(h);
  if ~isempty(ready), break; end
  pause(0.01);
end
assert(~isempty(ready) && isequal(ready{1}, int8('ready')), 'the peer did not start within 15 s');
assert(port == peerPort);

for k = 1:numel(values)
  Kuvosend(h, '127.0.0.1', peerPort, values{k});
end
[back, ip, port] = receive_n(h, numel(values));
for k = 1:numel(values)
  assert(isequal(class(back{k}), class(values{k})) && isequal(back{k}, values{k}), ...
         'value %d came back altered', k);
end
assert(all(strcmp(ip, '127.0.0.1')) && all(port == peerPort));

[~, status] = waitpid(pid);
assert(WIFEXITED(status) && WEXITSTATUS(status) == 0, 'the peer did not end cleanly');
Kuvoclose(h);
printf('test_two_processes: passed\n');
