%KUVORECVIP Return received values with their senders.
%   [data IP port] = KuvorecvIP(socketHandle)
%   [data IP port] = KuvorecvIP(socketHandle, count)
%
%   As Kuvorecv, and also returns each message's sender.
%
%   Inputs:
%     socketHandle  uint64 handle from Kuvoinit
%     count         optional; as for Kuvorecv
%
%   Outputs:
%     data          1-by-N cell of the values
%     IP            1-by-N cell of the senders' address texts ('10.0.0.7')
%     port          1-by-N uint16 row of the senders' ports
%
%   Errors: KuvorecvIP:Input, KuvorecvIP:Output (all three outputs are
%   required).
%
%   Example:
%     h = Kuvoinit(5000);
%     Kuvosend(h, '127.0.0.1', 5000, int8(1:4));
%     pause(0.1);
%     [data, ip, port] = KuvorecvIP(h, []);   % ip{1} = '127.0.0.1', port(1) = 5000
%
%   See also Kuvorecv, Kuvosend, Kuvoinit.
