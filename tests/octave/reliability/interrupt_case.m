% SPDX-License-Identifier: BSD-3-Clause

function long = interrupt_case (name, scale)
% INTERRUPT_CASE  A long call of plug-in NAME for the interrupt test: valid
% input that keeps the plug-in busy for a few seconds in one call (SCALE,
% default 1, multiplies its size). A struct with fields args and nout.
  if (nargin < 2)
    scale = 1;
  end
  switch (name)
    case 'align_series'
      % many small entries: the time goes into creating their outputs
      N = 3e5 * scale;
      long.args = {repmat({[1 2; 3 4]}, N, 1), repmat({[1 2; 3 4]}, N, 1), ...
                   repmat({[1 3; 5 6]}, N, 1), repmat({[2; 7]}, N, 1)};
      long.nout = 4;
    case {'fold_links_masked', 'fold_links_full'}
      % one link in and one out of every index: 4 N buckets and entries
      N = 1.6e6 * scale;
      long.args = {[1:N; [2:N 1]; ones(1, N)], ones(2, N)};
      long.nout = 2;
    case 'tally_pairs_masked'
      % few records, each costly: K^2 = 9e6 pairs (too many to plan), one
      % value row; the call must poll within each record
      K = 3000;
      m = 80 * scale;
      long.args = {randn(K, 1), {[ones(1, m); randn(1, m)]}, ones(K), 1};
      long.nout = 1;
    case 'tally_pairs_full'
      % K^2 pair terms (too many to plan) of two classes for every one of
      % 4000 records: the call runs in tiles of columns where threads are on
      K = 300;
      m = 2000 * scale;
      list = {[2 * ones(1, m); rand(1, m)], [ones(1, m); rand(1, m)]};
      long.args = {ones(K, 2), list, 1 + (rand (K) < 0.5), 2};
      long.args{2}{1}(2, 1:2:end) = NaN;          % NaN records too
      long.args = [long.args, {ones(2, 2), 1}];
      long.nout = 1;
    otherwise
      error ('interrupt_case: no long call for plug-in %s', name);
  end
end
