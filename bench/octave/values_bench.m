## values_bench (ROLE, MEXDIR, RESULTS, PORTS, REPS, CLEVEL)
##
## Wall time to move Octave values between two Octave processes: a 10 MB
## double matrix and a 1000-element struct array with Kuvosend/Kuvorecv,
## in turns with udpport (instrument-control) moving the same number of
## bytes in 60000-byte datagrams, and with the C-level transfer of one
## message of that many bytes (the program CLEVEL, kuvo_bench, run while
## the receiving Octave holds still).
##
## ROLE is "send" or "receive"; both processes are started with the same
## PORTS, a vector [kuvoSend kuvoReceive udpSend udpReceive]. The sender
## writes one line per run to the file RESULTS:
##   payload NAME BYTES TITLE
##   kuvo NAME SECONDS OK
##   udp NAME SECONDS OK SHARE_OF_BYTES_RECEIVED
##   clevel NAME SECONDS OK
## Times run from just before the sender's first call to the moment the
## receiver holds the whole value (both read the same wall clock); for a
## udpport run that lost datagrams, to about the last datagram that came.
function values_bench (role, mexdir, results, ports, reps, clevel)
  addpath (mexdir);
  pkg load instrument-control;
  warning ("off", "Kuvosend:Input3:serialize");
  payloads = make_payloads ();
  switch (role)
    case "receive"
      receive_loop (ports, payloads);
    case "send"
      send_runs (ports, payloads, results, reps, clevel);
    otherwise
      error ("values_bench: unknown role %s", role);
  endswitch
  KuvocloseALL ();
endfunction

function p = make_payloads ()
  n = 1250 * 1000;
  matrix = reshape (mod ((0:n-1) * 7919, 100003) / 7, 1250, 1000);
  ids = num2cell (1:1000);
  names = arrayfun (@(i) sprintf ("sensor-%04d", i), 1:1000, "UniformOutput", false);
  values = arrayfun (@(i) (1:16) * i, 1:1000, "UniformOutput", false);
  structs = struct ("id", ids, "name", names, "values", values);
  p = struct ("name", {"matrix", "structs"},
              "title", {"10 MB double matrix", "1000-element struct array"},
              "value", {matrix, structs});
endfunction

## The bytes udpport moves in place of a value of N bytes.
function b = udp_bytes (n)
  b = uint8 (mod ((0:n-1) * 131 + 7, 251));
endfunction

function receive_loop (ports, payloads)
  h = Kuvoinit (ports(2));
  u = udpport ("LocalPort", ports(4));
  ## read returns when it has all bytes, or this long after the last datagram.
  quiet = 0.5;
  set (u, "Timeout", quiet);
  deadline = time () + 240;
  ## Poll every millisecond, as a host session would: a tighter loop takes
  ## the core from the engine's receiver thread on a two-core machine.
  idle = 0.001;
  while (time () < deadline)
    c = Kuvorecv (h, []);
    t1 = time ();
    if (isempty (c))
      pause (idle);
      continue;
    endif
    for k = 1:numel (c)
      v = c{k};
      if (ischar (v))
        words = strsplit (v, " ");
        switch (words{1})
          case "hello"
            Kuvosend (h, "127.0.0.1", ports(1), "welcome");
          case "udp"
            n = str2double (words{3});
            expected = udp_bytes (n);
            Kuvosend (h, "127.0.0.1", ports(1), "ready");
            data = read (u, n, "uint8");
            t1 = time ();
            ok = numel (data) == n && isequal (data(:), expected(:));
            if (numel (data) < n)
              t1 -= quiet;   # the time of the last datagram, about
            endif
            Kuvosend (h, "127.0.0.1", ports(1),
                      sprintf ("udpdone %s %.6f %d %d", words{2}, t1, ok, numel (data)));
          case "hold"
            ## Poll rarely while the C-level transfer runs.
            idle = 0.05;
            Kuvosend (h, "127.0.0.1", ports(1), "holding");
          case "resume"
            idle = 0.001;
            Kuvosend (h, "127.0.0.1", ports(1), "resumed");
          case "quit"
            return;
        endswitch
      else
        if (isstruct (v))
          name = "structs";
        else
          name = "matrix";
        endif
        ok = isequal (v, payloads(strcmp ({payloads.name}, name)).value);
        Kuvosend (h, "127.0.0.1", ports(1), sprintf ("kuvodone %s %.6f %d", name, t1, ok));
      endif
    endfor
  endwhile
endfunction

## Waits for a control text starting with PREFIX; "" after TIMEOUT seconds.
function reply = await (h, prefix, timeout)
  reply = "";
  deadline = time () + timeout;
  while (time () < deadline)
    c = Kuvorecv (h, []);
    for k = 1:numel (c)
      if (ischar (c{k}) && strncmp (c{k}, prefix, numel (prefix)))
        reply = c{k};
        return;
      endif
    endfor
    pause (0.0002);
  endwhile
endfunction

function send_runs (ports, payloads, results, reps, clevel)
  h = Kuvoinit (ports(1));
  u = udpport ("LocalPort", ports(3));
  out = fopen (results, "w");
  ## The receiver may still be starting.
  greeted = false;
  for attempt = 1:300
    Kuvosend (h, "127.0.0.1", ports(2), "hello");
    if (! isempty (await (h, "welcome", 0.2)))
      greeted = true;
      break;
    endif
  endfor
  if (! greeted)
    fclose (out);
    error ("values_bench: the receiving Octave did not answer");
  endif

  bytes = zeros (1, numel (payloads));
  for rep = 1:reps
    for i = 1:numel (payloads)
      p = payloads(i);
      t0 = time ();
      n = Kuvosend (h, "127.0.0.1", ports(2), p.value);
      reply = await (h, ["kuvodone " p.name], 10);
      [t1, ok] = parse_done (reply);
      if (rep == 1)
        bytes(i) = n;
        fprintf (out, "payload %s %d %s\n", p.name, n, p.title);
      endif
      fprintf (out, "kuvo %s %.6f %d\n", p.name, t1 - t0, ok);

      n = bytes(i);
      data = udp_bytes (n);
      Kuvosend (h, "127.0.0.1", ports(2), sprintf ("udp %s %d", p.name, n));
      if (isempty (await (h, "ready", 10)))
        fprintf (out, "udp %s 0 0 0\n", p.name);
        continue;
      endif
      t0 = time ();
      for first = 1:60000:n
        write (u, data(first:min (first + 59999, n)), "127.0.0.1", ports(4));
      endfor
      reply = await (h, ["udpdone " p.name], 10);
      [t1, ok, got] = parse_done (reply);
      fprintf (out, "udp %s %.6f %d %.6f\n", p.name, t1 - t0, ok, got / n);

      if (! isempty (clevel))
        Kuvosend (h, "127.0.0.1", ports(2), "hold");
        await (h, "holding", 10);
        [~, text] = system (sprintf ("'%s' transfer size=%d count=1", clevel, n));
        Kuvosend (h, "127.0.0.1", ports(2), "resume");
        await (h, "resumed", 10);
        found = regexp (text, 'intact (\d+) .*, ([0-9.]+) s,', "tokens", "once");
        if (numel (found) == 2)
          fprintf (out, "clevel %s %s %d\n", p.name, found{2}, str2double (found{1}) == 1);
        else
          fprintf (out, "clevel %s 0 0\n", p.name);
        endif
      endif
      fflush (out);
    endfor
  endfor
  Kuvosend (h, "127.0.0.1", ports(2), "quit");
  fclose (out);
endfunction

function [t1, ok, got] = parse_done (reply)
  t1 = NaN; ok = 0; got = 0;
  if (isempty (reply))
    return;
  endif
  words = strsplit (reply, " ");
  t1 = str2double (words{3});
  ok = str2double (words{4});
  if (numel (words) >= 5)
    got = str2double (words{5});
  endif
endfunction
