% Failing calls of the seven functions: identifier and full message, usage
% text included, and the order in which the checks are made.
kuvo_test_setup();

U.init = "\nsocketHandle = Kuvoinit(port)\nsocketHandle\tint\toutput\nport\t\t\tint\tinput\n";
U.close = "\nok = Kuvoclose(socketHandle)\nok\t\t\t\tint\toutput\nsocketHandle\tint\tinput\n";
U.port = "\nok = KuvoclosePort(port)\nok\t\t\t\tint\toutput\nport\tint\tinput\n";
U.all = "\nok = KuvocloseALL()\nok\t\t\t\tint\toutput\n";
U.send = ["bytes = Kuvosend(socketHandle, IP, port, data)\nbytes\t\t\tint\t\toutput\n" ...
          "socketHandle\tint\t\tinput\nIP\t\t\t\tstring\tinput\nport\t\t\tint\t\tinput\n" ...
          "data\t\t\tany(*)\tinput\n"];
NOTE = ["\n\t(*)onedimensional arrays of type int8 and int8 are directly transfered " ...
        "any other matlab datatype and structure is serialized using matlab file format"];
U.recv = ["\ndata = Kuvorecv(socketHandle[,count=1])\ndata\t\t\tstring\toutput\n" ...
          "socketHandle\tint\t\tinput\ncount\tnumeric\t\tinput\n"];
U.recvip = ["\n[data IP port] = KuvorecvIP(socketHandle[,count=1])\ndata\t\t\tstring\toutput\n" ...
            "IP\t\t\t\tstring\toutput\nport\t\t\tint\t\toutput\nsocketHandle\tint\t\tinput\n" ...
            "count\tnumeric\t\tintput\n"];
send = @(phrase) [phrase "\n" U.send "\n" NOTE];
COUNT = 'Optional parameter count must be single positive number or empty for all available messages! ';

P = 42000;
h = Kuvoinit(P);

cases = {
  % nout, call, identifier, message
  1, @() Kuvoinit(),               'Kuvoinit:Input',  ['One input parameter is required' U.init]
  1, @() Kuvoinit(P, P),           'Kuvoinit:Input',  ['One input parameter is required' U.init]
  0, @() Kuvoinit(P + 1),          'Kuvoinit:Output', ['One output parameter is required' U.init]
  2, @() Kuvoinit(P + 1),          'Kuvoinit:Output', ['One output parameter is required' U.init]
  1, @() Kuvoinit('42001'),        'Kuvoinit:Input',  ['The input parameter must be an integer' U.init]
  1, @() Kuvoinit(true),           'Kuvoinit:Input',  ['The input parameter must be an integer' U.init]
  2, @() Kuvoinit('x', 1),         'Kuvoinit:Input',  ['One input parameter is required' U.init]
  2, @() Kuvoinit('x'),            'Kuvoinit:Output', ['One output parameter is required' U.init]

  1, @() Kuvoclose(),              'Kuvoclose:Input',  ['One input parameter is required' U.close]
  2, @() Kuvoclose(h),             'Kuvoclose:Output', ['Just one output parameter is allowed' U.close]
  1, @() Kuvoclose(double(h)),     'Kuvoclose:Input',  ['The input parameter must be an integer handle' U.close]
  1, @() Kuvoclose(uint64([])),    'Kuvoclose:Input',  ['The input parameter must be an integer handle' U.close]
  1, @() Kuvoclose(int64(h)),      'Kuvoclose:Input',  ['The input parameter must be an integer handle' U.close]
  2, @() Kuvoclose(5),             'Kuvoclose:Output', ['Just one output parameter is allowed' U.close]

  1, @() KuvoclosePort(),          'KuvoclosePort:Input',  ['One input parameter is required' U.port]
  2, @() KuvoclosePort(P),         'KuvoclosePort:Output', ['Just one output parameter is allowed' U.port]
  1, @() KuvoclosePort('a'),       'KuvoclosePort:Input',  ['The input parameter must be an integer' U.port]
  1, @() KuvoclosePort({P}),       'KuvoclosePort:Input',  ['The input parameter must be an integer' U.port]

  1, @() KuvocloseALL(1),          'KuvocloseALL:Input',  ['No input parameter is allowed' U.all]
  2, @() KuvocloseALL(),           'KuvocloseALL:Output', ['Just one output parameter is allowed' U.all]
  2, @() KuvocloseALL(1),          'KuvocloseALL:Input',  ['No input parameter is allowed' U.all]

  1, @() Kuvosend(h, '127.0.0.1', P),          'Kuvosend:Input',  send('Four input parameters are required')
  2, @() Kuvosend(h, '127.0.0.1', P),          'Kuvosend:Input',  send('Four input parameters are required')
  2, @() Kuvosend(h, '127.0.0.1', P, 1),       'Kuvosend:Output', send('Just one output parameter is allowed')
  1, @() Kuvosend(double(h), '127.0.0.1', P, 1), 'Kuvosend:Input', send('The first input parameter must be an integer handle')
  1, @() Kuvosend(uint64([]), '127.0.0.1', P, 1), 'Kuvosend:Input', send('The first input parameter must be an integer handle')
  1, @() Kuvosend(double(h), 5, 'x', 1),       'Kuvosend:Input',  send('The first input parameter must be an integer handle')
  1, @() Kuvosend(h, 127001, P, 1),            'Kuvosend:Input',  send('The second input parameter must be a string')
  1, @() Kuvosend(h, '', P, 1),                'Kuvosend:Input',  send('The second input parameter must be a string')
  1, @() Kuvosend(h, '127.0.0.1', 'a', 1),     'Kuvosend:Input',  send('The third input parameter must be an integer')
  1, @() Kuvosend(h, '127.0.0.1', {P}, 1),     'Kuvosend:Input',  send('The third input parameter must be an integer')

  1, @() Kuvorecv(),               'Kuvorecv:Input',  ['One input parameter is required' U.recv]
  1, @() Kuvorecv(h, 1, 2),        'Kuvorecv:Input',  ['Too many input parameter(s)! ' U.recv]
  2, @() Kuvorecv(h, 1, 2),        'Kuvorecv:Input',  ['Too many input parameter(s)! ' U.recv]
  1, @() Kuvorecv(h, -1),          'Kuvorecv:Input',  [COUNT U.recv]
  1, @() Kuvorecv(h, 'a'),         'Kuvorecv:Input',  [COUNT U.recv]
  1, @() Kuvorecv(h, [1 2]),       'Kuvorecv:Input',  [COUNT U.recv]
  1, @() Kuvorecv(h, NaN),         'Kuvorecv:Input',  [COUNT U.recv]
  1, @() Kuvorecv(h, Inf),         'Kuvorecv:Input',  [COUNT U.recv]
  1, @() Kuvorecv(h, 2^63),        'Kuvorecv:Input',  [COUNT U.recv]
  1, @() Kuvorecv(h, {1}),         'Kuvorecv:Input',  [COUNT U.recv]
  2, @() Kuvorecv(h),              'Kuvorecv:Output', ['One output parameter is required' U.recv]
  0, @() Kuvorecv(h),              'Kuvorecv:Output', ['One output parameter is required' U.recv]
  1, @() Kuvorecv(double(h)),      'Kuvorecv:Input',  ['The input parameter must be an integer handle' U.recv]
  1, @() Kuvorecv(double(h), -1),  'Kuvorecv:Input',  [COUNT U.recv]
  2, @() Kuvorecv(double(h)),      'Kuvorecv:Output', ['One output parameter is required' U.recv]

  3, @() KuvorecvIP(),             'KuvorecvIP:Input',  ['One input parameter(s) is required! ' U.recvip]
  3, @() KuvorecvIP(h, 1, 2),      'KuvorecvIP:Input',  ['Too many input parameter(s)! ' U.recvip]
  3, @() KuvorecvIP(h, -1),        'KuvorecvIP:Input',  [COUNT U.recvip]
  3, @() KuvorecvIP(h, [1 2]),     'KuvorecvIP:Input',  [COUNT U.recvip]
  2, @() KuvorecvIP(h),            'KuvorecvIP:Output', ['Three output parameters are required' U.recvip]
  1, @() KuvorecvIP(h),            'KuvorecvIP:Output', ['Three output parameters are required' U.recvip]
  3, @() KuvorecvIP(uint64([])),   'KuvorecvIP:Input',  ['The first input parameter must be an integer handle' U.recvip]
  2, @() KuvorecvIP(double(h), -1), 'KuvorecvIP:Input', [COUNT U.recvip]
  2, @() KuvorecvIP(double(h)),    'KuvorecvIP:Output', ['Three output parameters are required' U.recvip]
};
for k = 1:rows(cases)
  expect_error(cases{k, :});
end

% A value the serializer cannot represent: its own identifier, the class
% named, nothing sent.
unsupported = {
  @sin,                 'function_handle'
  {1, {2, @cos}},       'function_handle'
  containers.Map(),     'containers.Map'
};
for k = 1:rows(unsupported)
  value = unsupported{k, 1};
  expect_error(1, @() Kuvosend(h, '127.0.0.1', P, value), 'Kuvosend:Input3:unsupported', ...
               send(['The fourth input parameter cannot be serialized: ' unsupported{k, 2}]));
end
Kuvosend(h, '127.0.0.1', P, int8([7 7]));
got = receive_n(h, 1);
assert(isequal(got{1}, int8([7 7])), 'the unsupported value must not have been sent');

% A port that cannot be bound: the core's error code in the message.
Q = P + 2;
[pid, outFile] = raw_listen(Q, 1, 3000);
raised = false;
try
  hq = Kuvoinit(Q);
catch err
  raised = true;
end
kill(pid, 15);
waitpid(pid);
delete(outFile);
assert(raised, 'Kuvoinit of a port held by another program must fail');
assert(strcmp(err.identifier, 'Kuvoinit:socket'), err.identifier);
assert(~isempty(regexp(err.message, 'Failed to create socket! error code 10048$', 'once')), err.message);

Kuvoclose(h);
printf('test_arguments: %d failing calls checked\n', rows(cases) + rows(unsupported) + 1);
