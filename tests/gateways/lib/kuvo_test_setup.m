function kuvo_test_setup()
  % Puts the plug-ins on the path; every test script starts with it.
  mexDir = getenv('KUVO_MEX_DIR');
  assert(~isempty(mexDir) && isfile(fullfile(mexDir, 'Kuvosend.mex')), ...
         'KUVO_MEX_DIR does not hold the plug-ins: "%s"', mexDir);
  addpath(mexDir);
  more off;
end
