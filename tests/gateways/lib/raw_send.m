function sourcePort = raw_send(port, varargin)
  % Sends each argument (a uint8/int8 vector) as one datagram without any
  % marker to 127.0.0.1:port from a plain program; returns its source port.
  hex = cell(1, numel(varargin));
  for k = 1:numel(varargin)
    b = varargin{k}(:)';
    if ~isa(b, 'uint8')
      b = typecast(int8(b), 'uint8');
    end
    if isempty(b)
      hex{k} = '-';
    else
      hex{k} = lower(reshape(dec2hex(b, 2)', 1, []));
    end
  end
  cmd = sprintf('"%s" send %d %s', getenv('KUVO_RAW_PEER'), port, strjoin(hex, ' '));
  [status, out] = system(cmd);
  assert(status == 0, 'raw_peer send failed: %s', out);
  sourcePort = str2double(out);
end
