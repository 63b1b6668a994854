function expect_error(nout, fn, id, text)
  % Calls fn with nout outputs and checks that it raises identifier id with
  % message text. Octave puts "Name: " before a plug-in's message and drops
  % one trailing line break; both are allowed for.
  raised = false;
  try
    if nout == 0
      fn();
    else
      out = cell(1, nout);
      [out{:}] = fn();
    end
  catch err
    raised = true;
  end
  where = func2str(fn);
  if ~raised
    error('test:expect_error', '%s: no error raised, expected %s', where, id);
  end
  if ~strcmp(err.identifier, id)
    error('test:expect_error', '%s: identifier "%s", expected "%s"\nmessage: %s', ...
          where, err.identifier, id, err.message);
  end
  msg = err.message;
  prefix = [strtok(id, ':') ': '];
  if strncmp(msg, prefix, numel(prefix))
    msg = msg(numel(prefix) + 1:end);
  end
  if numel(text) > 0 && text(end) == "\n"
    text = text(1:end - 1);
  end
  if ~strcmp(msg, text)
    error('test:expect_error', '%s (%s): message\n[%s]\nexpected\n[%s]', where, id, msg, text);
  end
end
