function lines = raw_lines(outFile)
  % The lines raw_peer has written so far: "ready", then one hex line per datagram.
  lines = {};
  fid = fopen(outFile, 'r');
  if fid < 0
    return;
  end
  text = fread(fid, Inf, '*char')';
  fclose(fid);
  lines = strsplit(strtrim(text), "\n");
  lines = lines(~cellfun(@isempty, lines));
end
