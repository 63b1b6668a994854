%KUVOCLOSE Close a socket.
%   ok = Kuvoclose(socketHandle)
%
%   Asks the receiver to close the socket; messages not yet received with
%   Kuvorecv are dropped.
%
%   Inputs:
%     socketHandle  uint64 handle from Kuvoinit
%
%   Outputs:
%     ok            1 when the socket was known and its close requested,
%                   0 otherwise
%
%   Errors: Kuvoclose:Input, Kuvoclose:Output.
%
%   Example:
%     h = Kuvoinit(5000);
%     ok = Kuvoclose(h);
%
%   See also Kuvoinit, KuvoclosePort, KuvocloseALL.
