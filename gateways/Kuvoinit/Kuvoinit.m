%KUVOINIT Open a UDP socket bound to a local port.
%   socketHandle = Kuvoinit(port)
%
%   Opens a dual-stack UDP socket bound to PORT on every local address, so
%   that IPv4 and IPv6 peers reach it, and starts receiving on it in the
%   background.
%
%   Inputs:
%     port          numeric; its first element, truncated toward zero, gives
%                   the port (its low 16 bits are used; 0 picks a free port)
%
%   Outputs:
%     socketHandle  1-by-1 uint64 handle for Kuvosend, Kuvorecv, KuvorecvIP
%                   and Kuvoclose
%
%   Errors: Kuvoinit:Input, Kuvoinit:Output, and Kuvoinit:socket with the
%   system's error code when the socket cannot be opened.
%
%   Example:
%     h = Kuvoinit(5000);
%     Kuvosend(h, '127.0.0.1', 5000, 'hello');
%     Kuvoclose(h);
%
%   See also Kuvosend, Kuvorecv, KuvorecvIP, Kuvoclose, KuvoclosePort, KuvocloseALL.
