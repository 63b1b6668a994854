function peer_echo(ownPort, peerPort, count)
  % The second process of test_two_processes: opens ownPort, says "ready" to
  % peerPort, then sends every value it receives back to its sender, until
  % count values went back or 20 s passed.
  kuvo_test_setup();
  warning('off', 'Kuvosend:Input3:serialize');
  h = Kuvoinit(ownPort);
  Kuvosend(h, '127.0.0.1', peerPort, int8('ready'));
  echoed = 0;
  deadline = time() + 20;
  while echoed < count && time() < deadline
    [d, ip, port] = KuvorecvIP(h, []);
    for k = 1:numel(d)
      Kuvosend(h, ip{k}, double(port(k)), d{k});
      echoed = echoed + 1;
    end
    if isempty(d)
      pause(0.01);
    end
  end
  Kuvoclose(h);
  exit(echoed < count);
end
