function build_matlab(outDir)
%BUILD_MATLAB Build the Kuvo core library and its seven MEX files for MATLAB.
%   build_matlab() builds into <kuvo>/build/matlab; build_matlab(DIR) into DIR.
%   Then addpath(DIR) is all that is needed. Needs a C++17 compiler set up
%   for mex (mex -setup C++): MSVC or MinGW-w64 on Windows, g++ on Linux.
%
%   The core is one shared library (Kuvo.dll / libKuvo.so) that all seven
%   plug-ins load, so that they share one engine and its sockets. mex builds
%   it too, with its export rule for mexFunction switched off.

root = fileparts(fileparts(mfilename('fullpath')));
if nargin < 1
  outDir = fullfile(root, 'build', 'matlab');
end
if ~exist(outDir, 'dir')
  mkdir(outDir);
end
core = fullfile(root, 'core');
common = fullfile(root, 'gateways', 'common');
compiler = mex.getCompilerConfigurations('C++', 'Selected');
if ~isempty(compiler) && strncmp(compiler(1).ShortName, 'MSVC', 4)
  cxx = 'COMPFLAGS=$COMPFLAGS /std:c++17';
else
  cxx = 'CXXFLAGS=$CXXFLAGS -std=c++17';
end
noMexExports = {'LINKEXPORT=', 'LINKEXPORTVER='};

coreSources = dir(fullfile(core, '*.cpp'));
coreSources = fullfile(core, {coreSources.name});
if ispc
  coreSources{end + 1} = fullfile(core, 'platform', 'win32.cpp');
  coreLibs = {'-lws2_32', '-lbcrypt'};
  coreName = 'Kuvo';
else
  coreSources{end + 1} = fullfile(core, 'platform', 'posix.cpp');
  coreLibs = {'-lpthread'};
  coreName = 'libKuvo';
end

% The core library: exports only what kuvo.h marks with KUVO_API.
mex('-largeArrayDims', '-DKUVO_BUILDING', ['-I' core], cxx, noMexExports{:}, ...
    '-outdir', outDir, '-output', coreName, coreSources{:}, coreLibs{:});
built = fullfile(outDir, [coreName '.' mexext]);
if ispc
  movefile(built, fullfile(outDir, 'Kuvo.dll'), 'f');
  % MSVC links through the import library; MinGW links the DLL itself.
  if exist(fullfile(outDir, 'Kuvo.lib'), 'file')
    coreLink = {fullfile(outDir, 'Kuvo.lib')};
  else
    coreLink = {['-L' outDir], '-lKuvo'};
  end
else
  movefile(built, fullfile(outDir, 'libKuvo.so'), 'f');
  % The plug-ins find libKuvo in this folder (run path).
  coreLink = {['-L' outDir], '-lKuvo', ['LDFLAGS=$LDFLAGS -Wl,-rpath,' outDir]};
end

% The seven plug-ins, with MATLAB's own value serialization.
commonSources = fullfile(common, {'gateway.cpp', 'value_codec.cpp', 'receive.cpp'});
functions = {'Kuvoinit', 'Kuvosend', 'Kuvorecv', 'KuvorecvIP', 'Kuvoclose', ...
             'KuvoclosePort', 'KuvocloseALL'};
for k = 1:numel(functions)
  fn = functions{k};
  mex('-largeArrayDims', '-DKUVO_HOST_MATLAB', ['-I' core], ['-I' common], cxx, ...
      '-outdir', outDir, fullfile(root, 'gateways', fn, [fn '.cpp']), ...
      commonSources{:}, coreLink{:});
  copyfile(fullfile(root, 'gateways', fn, [fn '.m']), outDir, 'f');
end
fprintf('Kuvo built in %s: addpath(''%s'')\n', outDir, outDir);
end
