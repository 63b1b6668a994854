function [bytes, warned] = send_quiet(h, ip, port, value)
  % Kuvosend with its warning captured: warned is true when the serialize
  % warning was issued by this call.
  lastwarn('', '');
  evalc('bytes = Kuvosend(h, ip, port, value);');
  [~, id] = lastwarn();
  warned = strcmp(id, 'Kuvosend:Input3:serialize');
end
