% Opening and closing: the exit hook, port conversions and the results of the
% three close functions.
kuvo_test_setup();
P = 42300;

%% Clearing one plug-in closes every socket opened through any of them, and
% a plug-in whose only call failed its checks has registered the hook too.
try
  Kuvoclose();   % the first call of Kuvoclose in this process: it fails
catch
end
h1 = Kuvoinit(P);
h2 = Kuvoinit(P + 1);
Kuvosend(h1, '127.0.0.1', P, int8(1));
receive_n(h1, 1);
Kuvosend(h1, '127.0.0.1', P, int8(2));   % left queued
clear Kuvoclose
assert(isempty(Kuvorecv(h1, [])), 'queued messages survived the clear');
assert(Kuvoclose(h1) == 0 && Kuvoclose(h2) == 0, 'the new engine knows the old handles');
for port = [P, P + 1]
  % Another program can bind the port only once Kuvo's socket is gone.
  [pid, outFile] = raw_listen(port, 1, 3000);
  kill(pid, 15);
  waitpid(pid);
  delete(outFile);
end

%% Port conversions: truncation toward zero, the first element, the low 16
% bits for opening; closing by port compares the whole value, and values out
% of the int32 range saturate rather than wrap.
probe = Kuvoinit(P + 10);
opened = {
  % Kuvoinit argument,    port it binds
  P + 2.9,                P + 2
  [P + 3, 7],             P + 3
  int32(P + 4),           P + 4
  P + 5 + 65536,          P + 5
};
for k = 1:rows(opened)
  hk = Kuvoinit(opened{k, 1});
  Kuvosend(probe, '127.0.0.1', opened{k, 2}, int8(k));
  d = receive_n(hk, 1);
  assert(isequal(d{1}, int8(k)), 'Kuvoinit(%s) did not bind %d', mat2str(opened{k, 1}), opened{k, 2});
  Kuvoclose(hk);
end

h = Kuvoinit(P + 6);
% A socket is found by port once the receiver thread has taken it over,
% which a message read through it proves.
Kuvosend(probe, '127.0.0.1', P + 6, int8(1));
receive_n(h, 1);
closing = {
  % KuvoclosePort argument, result
  P + 6 + 65536,            0
  2^32 + P + 6,             0
  NaN,                      0
  Inf,                      0
  -Inf,                     0
  P + 6.7,                  1
};
for k = 1:rows(closing)
  r = KuvoclosePort(closing{k, 1});
  assert(r == closing{k, 2}, 'KuvoclosePort(%g) gave %d', closing{k, 1}, r);
end

%% Results of the close functions, also without an output variable.
assert(Kuvoclose(uint64(2^40)) == 0);
assert(KuvoclosePort(P + 99) == 0);
Kuvoclose([probe, uint64(7)]);   % the first element counts
assert(ans == 1 && isa(ans, 'double'), 'Kuvoclose without an output variable');
KuvocloseALL();
assert(ans == 0, 'KuvocloseALL without an output variable');
assert(KuvocloseALL() == 0);

printf('test_lifecycle: passed\n');
