function demo_receiver(ownPort, senderPort, plainPort, workDir, plainText)
  % Receives the demo values from the Octave sender and one message from a
  % plain program, and prints for each its class, size, sender, whether it
  % equals what was sent, and the rate from the start of its send until the
  % value was in hand. Exits non-zero when anything is missing or altered.
  [names, values] = demo_values();
  names{end + 1} = 'plain message';
  values{end + 1} = int8(plainText);
  n = numel(values);
  fromPort = [repmat(senderPort, 1, n - 1), plainPort];

  h = Kuvoinit(ownPort);
  printf('receiver: listening on port %d\n', ownPort);
  hello = int8('hello');
  data = {}; ip = {}; port = uint16([]); arrived = [];
  deadline = time() + 20;
  while numel(data) < n && time() < deadline
    [d, i, p] = KuvorecvIP(h, []);
    if isempty(d)
      pause(0.005);
      continue;
    end
    t = time();
    for k = 1:numel(d)
      if isequal(d{k}, hello) && p(k) == senderPort
        Kuvosend(h, i{k}, double(p(k)), int8('ready'));
        continue;
      end
      data{end + 1} = d{k}; ip{end + 1} = i{k}; port(end + 1) = p(k); arrived(end + 1) = t;
    end
  end
  Kuvoclose(h);

  % The senders note each send once it has returned: wait for the notes.
  for attempt = 1:200
    sent = read_sent(fullfile(workDir, 'sent.txt'));
    if rows(sent) >= numel(data), break; end
    pause(0.01);
  end

  % The k-th value is the k-th message from its sender's port.
  failures = 0;
  matched = 0;
  printf('\n%-3s %-20s %-8s %-12s %-17s %-6s %10s %8s %7s\n', '#', 'value', 'class', 'size', ...
         'sender', 'equal', 'bytes', 'ms', 'MB/s');
  for k = 1:n
    fromHere = find(port == fromPort(k));
    nth = sum(fromPort(1:k) == fromPort(k));
    if numel(fromHere) < nth
      printf('%-3d %-20s MISSING: nothing arrived from port %d within 20 s\n', k, names{k}, fromPort(k));
      failures = failures + 1;
      continue;
    end
    m = fromHere(nth);
    matched = matched + 1;
    same = isequal(class(data{m}), class(values{k})) && isequal(data{m}, values{k});
    failures = failures + ~same;
    bytes = '-'; took = '-'; rate = '-';
    row = find(sent(:, 1) == k, 1);
    if ~isempty(row)
      seconds = max(arrived(m) - sent(row, 2), 1e-6);
      bytes = sprintf('%d', sent(row, 4));
      took = sprintf('%.1f', 1000 * seconds);
      rate = sprintf('%.1f', sent(row, 4) / seconds / 1e6);
    end
    yesno = {'NO', 'yes'};
    printf('%-3d %-20s %-8s %-12s %-17s %-6s %10s %8s %7s\n', k, names{k}, class(data{m}), ...
           mat2str(size(data{m})), sprintf('%s:%d', ip{m}, port(m)), yesno{same + 1}, bytes, ...
           took, rate);
  end
  unexpected = numel(data) - matched;
  if unexpected > 0
    printf('receiver: %d unexpected messages\n', unexpected);
  end
  if failures > 0
    printf('\nreceiver: FAILED: %d of %d messages missing or altered\n', failures, n);
    exit(1);
  end
  printf('\nreceiver: all %d messages arrived unchanged\n', n);
end

function sent = read_sent(file)
  % Lines "index started ended bytes" noted by the senders.
  sent = zeros(0, 4);
  fid = fopen(file, 'r');
  if fid < 0, return; end
  sent = fscanf(fid, '%f', [4 Inf])';
  fclose(fid);
end
