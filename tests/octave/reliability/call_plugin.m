% SPDX-License-Identifier: BSD-3-Clause

function r = call_plugin (name, args, nout)
% CALL_PLUGIN  Calls plug-in NAME with the argument list ARGS and NOUT
% requested outputs, the way a user's code does, and returns what happened:
%   r.ok     true when the call returned
%   r.outs   the outputs (a 1 x NOUT cell; with NOUT = 0, ans when it was set)
%   r.id     the error identifier, r.msg the message, when the call failed
% Each output count is spelled out as its own assignment so that Octave
% itself checks that every requested output is defined, as it does for a
% user; the function is looked up by name on every call, so a change of
% the path takes effect once the name has been cleared.
  r = struct ('ok', true, 'outs', {{}}, 'id', '', 'msg', '');
  try
    switch (nout)
      case 0
        % A plug-in never returns a struct: this one marks "ans not set".
        ans = struct ('call_plugin_unset', true);
        feval (name, args{:});
        if (! (isstruct (ans) && isfield (ans, 'call_plugin_unset')))
          r.outs = {ans};
        end
      case 1
        o1 = feval (name, args{:});
        r.outs = {o1};
      case 2
        [o1, o2] = feval (name, args{:});
        r.outs = {o1, o2};
      case 3
        [o1, o2, o3] = feval (name, args{:});
        r.outs = {o1, o2, o3};
      case 4
        [o1, o2, o3, o4] = feval (name, args{:});
        r.outs = {o1, o2, o3, o4};
      case 5
        [o1, o2, o3, o4, o5] = feval (name, args{:});
        r.outs = {o1, o2, o3, o4, o5};
      otherwise
        error ('call_plugin: %d outputs are not supported', nout);
    end
  catch err
    r.ok = false;
    r.id = err.identifier;
    r.msg = err.message;
  end
end
