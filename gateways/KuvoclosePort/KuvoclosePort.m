%KUVOCLOSEPORT Close the socket bound to a port.
%   ok = KuvoclosePort(port)
%
%   Asks the receiver to close the socket bound to PORT.
%
%   Inputs:
%     port          numeric; its first element, truncated toward zero, is
%                   compared whole with the bound ports
%
%   Outputs:
%     ok            1 when a socket bound to that port was found, 0 otherwise
%
%   Errors: KuvoclosePort:Input, KuvoclosePort:Output.
%
%   Example:
%     h = Kuvoinit(5000);
%     ok = KuvoclosePort(5000);
%
%   See also Kuvoinit, Kuvoclose, KuvocloseALL.
