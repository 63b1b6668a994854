%KUVORECV Return received values.
%   data = Kuvorecv(socketHandle)
%   data = Kuvorecv(socketHandle, count)
%
%   Returns up to COUNT messages received on the socket, oldest first, and
%   never waits: with nothing received, DATA is a 1-by-0 cell. A value sent
%   by Kuvosend comes back as sent (an int8 column as a row); a message from
%   another program comes back as the int8 row of its bytes.
%
%   Inputs:
%     socketHandle  uint64 handle from Kuvoinit
%     count         optional; the most messages to return: 1 when absent,
%                   every received message when [], otherwise a single
%                   number truncated toward zero (0 counts as 1)
%
%   Outputs:
%     data          1-by-N cell of the values
%
%   Errors: Kuvorecv:Input, Kuvorecv:Output.
%
%   Example:
%     h = Kuvoinit(5000);
%     Kuvosend(h, '127.0.0.1', 5000, int8(1:4));
%     pause(0.1);
%     data = Kuvorecv(h, []);   % {int8([1 2 3 4])}
%
%   See also KuvorecvIP, Kuvosend, Kuvoinit.
