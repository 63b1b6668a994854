%KUVOCLOSEALL Close every socket.
%   ok = KuvocloseALL()
%
%   Asks the receiver to close every socket opened with Kuvoinit.
%
%   Inputs:
%     none
%
%   Outputs:
%     ok            0 when the request was accepted, -1 when it was refused
%
%   Errors: KuvocloseALL:Input, KuvocloseALL:Output.
%
%   Clearing any of the Kuvo functions (clear Kuvosend) or leaving MATLAB
%   also closes every socket and drops every received message.
%
%   Example:
%     KuvocloseALL();
%
%   See also Kuvoinit, Kuvoclose, KuvoclosePort.
