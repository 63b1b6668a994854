%KUVOSEND Send any value to an address and port.
%   bytes = Kuvosend(socketHandle, IP, port, data)
%
%   Sends DATA as one message from the socket SOCKETHANDLE. A real int8
%   vector (row, column, scalar or empty) travels as its raw bytes; any other
%   value is serialized and comes back whole from Kuvorecv, with the warning
%   Kuvosend:Input3:serialize. Messages longer than 1000 bytes travel in
%   fragments and are put together again by the receiver.
%
%   Inputs:
%     socketHandle  uint64 handle from Kuvoinit
%     IP            char: numeric IPv4 ('10.0.0.7') or IPv6 ('::1') address
%     port          numeric: destination port
%     data          any value the serializer can represent (not function
%                   handles or objects)
%
%   Outputs:
%     bytes         double: bytes sent (the message with its 2-byte marker),
%                   or -1 when the send failed
%
%   Errors: Kuvosend:Input, Kuvosend:Output, Kuvosend:Input3:unsupported for
%   a value that cannot be serialized, Kuvosend:Input3:size for a message
%   over 2147483647 bytes. Nothing is sent then.
%
%   Example:
%     h = Kuvoinit(5000);
%     n = Kuvosend(h, '127.0.0.1', 5001, int8([1 2 3]))   % n = 5
%     warning('off', 'Kuvosend:Input3:serialize');
%     Kuvosend(h, '127.0.0.1', 5001, struct('x', magic(3)));
%
%   See also Kuvoinit, Kuvorecv, KuvorecvIP.
