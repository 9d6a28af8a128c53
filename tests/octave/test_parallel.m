% SPDX-License-Identifier: BSD-3-Clause
% Every plug-in called inside worker processes on a batch of varied valid
% inputs must give results bit for bit equal to serial calls in this
% process: same classes, same sizes, same doubles (compared as their uint64
% bit patterns, so NaN, -0 and the last bit count). The plug-ins keep no
% state, so nothing may differ. The workers are those of parcellfun (the
% parallel package, two workers), or, where TABLEFOLD_CLUSTER names servers
% separated by commas (tests/octave/cluster_local runs two, on hosts of
% their own), those of the servers, through pconnect and netcellfun, two
% workers on each, so that every server gets calls.

%!function same = bits_equal (a, b)
%!  same = strcmp (class (a), class (b)) && isequal (size (a), size (b));
%!  if (same && iscell (a))
%!    for k = 1:numel (a)
%!      same = same && bits_equal (a{k}, b{k});
%!    end
%!  elseif (same)
%!    same = isequal (typecast (a(:), 'uint64'), typecast (b(:), 'uint64'));
%!  end
%!endfunction

%!function check_parallel (fn, nout, batch)
%!  pkg load parallel
%!  % One cell of values per argument, as cellfun and parcellfun take them.
%!  cols = cell (1, numel (batch{1}));
%!  for j = 1:numel (cols)
%!    cols{j} = cellfun (@(a) a{j}, batch, 'UniformOutput', false);
%!  end
%!  serial = cell (1, nout);
%!  [serial{:}] = cellfun (fn, cols{:}, 'UniformOutput', false);
%!  % The workers call the plug-in by name: with Octave 7, parcellfun given a
%!  % handle to a MEX function itself crashes Octave when it exits.
%!  by_name = str2func (sprintf ('@(varargin) %s (varargin{:})', func2str (fn)));
%!  par = cell (1, nout);
%!  [par{:}] = in_workers (by_name, cols{:});
%!  for o = 1:nout
%!    assert (size (par{o}), size (batch));
%!    for k = 1:numel (batch)
%!      assert (bits_equal (par{o}{k}, serial{o}{k}), ...
%!              '%s: output %d of case %d differs between a worker and a serial call', ...
%!              func2str (fn), o, k);
%!    end
%!  end
%!endfunction

%!function varargout = in_workers (fn, varargin)
%!  % cellfun (fn, varargin{:}, 'UniformOutput', false) in the workers.
%!  pkg load parallel
%!  varargout = cell (1, max (1, nargout));
%!  servers = getenv ('TABLEFOLD_CLUSTER');
%!  if (isempty (servers))
%!    [varargout{:}] = parcellfun (2, fn, varargin{:}, 'UniformOutput', false, 'VerboseLevel', 0);
%!  else
%!    conns = pconnect (strsplit (servers, ','), struct ('use_tls', false));
%!    unwind_protect
%!      network_set (conns(2:end), 'nlocaljobs', 2);
%!      % The servers call the plug-ins of the folder this session calls.
%!      reval (sprintf ('addpath (''%s'');', fileparts (which ('align_series'))), conns);
%!      [varargout{:}] = netcellfun (conns, fn, varargin{:}, 'UniformOutput', false);
%!    unwind_protect_cleanup
%!      sclose (conns);
%!    end_unwind_protect
%!  end
%!endfunction

%!test
%! % No thread outlives a call: worker processes forked after threaded calls
%! % in this one make threaded calls of their own, with the same results.
%! names = {'TABLEFOLD_THREADS', 'TABLEFOLD_THREAD_WORK'};
%! old = cellfun (@getenv, names, 'UniformOutput', false);
%! unwind_protect
%!   setenv ('TABLEFOLD_THREADS', '3');
%!   setenv ('TABLEFOLD_THREAD_WORK', '0');
%!   links = [randi(50, 2, 2000); randn(3, 2000)];
%!   counts = [accumarray(links(2, :)', 1, [50 1])'; accumarray(links(1, :)', 1, [50 1])'];
%!   [a, b] = fold_links_full (links, counts);
%!   [pa, pb] = in_workers (@(l, c) fold_links_full (l, c), {links, links}, {counts, counts});
%!   assert (bits_equal (pa, {a, a}) && bits_equal (pb, {b, b}));
%! unwind_protect_cleanup
%!   cellfun (@setenv, names, old);
%! end_unwind_protect

%!test
%! % The calls run in worker processes, not in this one, and on every server.
%! pids = in_workers (@(x) getpid (), num2cell (1:4));
%! assert (all ([pids{:}] != getpid ()));
%! servers = getenv ('TABLEFOLD_CLUSTER');
%! if (! isempty (servers))
%!   hosts = in_workers (@(x) gethostname (), num2cell (1:8));
%!   assert (numel (unique (hosts)), numel (strsplit (servers, ',')));
%! end

%!function t = keyed_table (rows)
%!  keys = unique (randi (30, 1, randi (6)));
%!  values = randn (rows, numel (keys));
%!  values(rand (size (values)) < 0.2) = NaN;
%!  t = [keys; values];
%!endfunction

%!function args = align_args (seed)
%!  rand ('state', seed); randn ('state', seed);
%!  n = 1 + mod (seed, 4);
%!  e = 1 + mod (seed, 3);
%!  v = mod (seed, 3);
%!  in = cell (n, 4);
%!  for i = 1:n
%!    in(i, :) = {keyed_table(v), keyed_table(v), keyed_table(e - 1), keyed_table(e - 1)};
%!  end
%!  args = {in(:, 1), in(:, 2), in(:, 3), in(:, 4)};
%!endfunction

%!function args = fold_args (seed, masked)
%!  rand ('state', seed); randn ('state', seed);
%!  n = 1 + mod (seed, 7);
%!  links = 1 + mod (3 * seed, 13);
%!  v = 2 + masked + mod (seed, 3);
%!  L = [randi(n, 2, links); randn(v - 2, links)];
%!  L(1:2, :) += 0.5 * rand (2, links);   % ends are truncated
%!  if (masked)
%!    L(3, rand (1, links) < 0.3) = NaN;
%!  end
%!  counts = zeros (2, n);
%!  for k = 1:links
%!    counts(1, fix (L(2, k))) += 1;
%!    counts(2, fix (L(1, k))) += 1;
%!  end
%!  counts += randi ([0 1], 2, n);        % surplus columns are allowed
%!  args = {L, counts};
%!endfunction

%!function args = tally_args (seed, full)
%!  rand ('state', seed); randn ('state', seed);
%!  K = 1 + mod (seed, 3);
%!  G = 1 + mod (seed, 4);
%!  n = 2 + mod (seed, 3);
%!  W = randn (K, G);
%!  R = randi ([-1 3], K, K);
%!  S = cell (1, G);
%!  for g = 1:G
%!    m = randi ([0 4]);
%!    rec = [randi(G, 1, m); randn(n - 1, m)];
%!    rec(2, rand (1, m) < 0.3) = NaN;
%!    S{g} = rec;
%!  end
%!  if (full)
%!    args = {W, S, R, 3, randn(2, G), mod(seed, 2)};
%!  else
%!    args = {W, S, R, 3};
%!  end
%!endfunction

%!test
%! check_parallel (@align_series, 4, arrayfun (@align_args, 1:12, 'UniformOutput', false));
%!test
%! check_parallel (@fold_links_full, 2, arrayfun (@(s) fold_args (s, 0), 1:12, 'UniformOutput', false));
%!test
%! check_parallel (@fold_links_masked, 2, arrayfun (@(s) fold_args (s, 1), 1:12, 'UniformOutput', false));
%!test
%! check_parallel (@tally_pairs_full, 1, arrayfun (@(s) tally_args (s, 1), 1:12, 'UniformOutput', false));
%!test
%! check_parallel (@tally_pairs_masked, 1, arrayfun (@(s) tally_args (s, 0), 1:12, 'UniformOutput', false));
