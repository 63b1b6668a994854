function demo_sender(ownPort, receiverPort, workDir)
  % Says hello to the receiver until it answers "ready" (it may start later
  % than this process), then sends the demo values and notes, for each, when
  % its send began and ended and how many bytes went.
  warning('off', 'Kuvosend:Input3:serialize');
  h = Kuvoinit(ownPort);
  ready = {};
  for attempt = 1:200
    Kuvosend(h, '127.0.0.1', receiverPort, int8('hello'));
    for wait = 1:10
      ready = Kuvorecv(h);
      if ~isempty(ready), break; end
      pause(0.01);
    end
    if ~isempty(ready), break; end
  end
  if isempty(ready) || ~isequal(ready{1}, int8('ready'))
    Kuvoclose(h);
    error('demo:sender', 'no "ready" from the receiver on port %d within 20 s', receiverPort);
  end
  [names, values] = demo_values();
  log = fopen(fullfile(workDir, 'sent.txt'), 'a');
  for k = 1:numel(values)
    started = time();
    bytes = Kuvosend(h, '127.0.0.1', receiverPort, values{k});
    ended = time();
    fprintf(log, '%d %.6f %.6f %d\n', k, started, ended, bytes);
    fflush(log);
    printf('sender: %-20s %9d bytes sent in %7.1f ms\n', names{k}, bytes, 1000 * (ended - started));
    if bytes < 0
      fclose(log);
      Kuvoclose(h);
      error('demo:sender', 'Kuvosend of the %s failed', names{k});
    end
  end
  fclose(log);
  Kuvoclose(h);
end
