function [data, ip, port] = receive_n(h, n)
  % Collects n messages from socket h, polling for at most 2 s in 10 ms steps.
  data = {}; ip = {}; port = uint16([]);
  for attempt = 1:200
    [d, i, p] = KuvorecvIP(h, n - numel(data));
    data = [data d]; ip = [ip i]; port = [port p];
    if numel(data) >= n
      return;
    end
    pause(0.01);
  end
  error('test:receive_n', 'received %d of %d messages within 2 s', numel(data), n);
end
