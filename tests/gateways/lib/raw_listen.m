function [pid, outFile] = raw_listen(port, count, timeoutMs)
  % Starts a plain program that binds 127.0.0.1:port and records up to count
  % datagrams as hex lines; returns once it is bound (at most 2 s).
  outFile = [tempname() '.txt'];
  cmd = sprintf('exec "%s" recv %d %d %d > "%s"', getenv('KUVO_RAW_PEER'), port, count, ...
                timeoutMs, outFile);
  pid = system(cmd, false, 'async');
  for attempt = 1:200
    if numel(raw_lines(outFile)) >= 1
      return;
    end
    pause(0.01);
  end
  error('test:raw_listen', 'raw_peer did not bind port %d within 2 s', port);
end
