% SPDX-License-Identifier: BSD-3-Clause

function k = value_bits (x)
% VALUE_BITS  A uint64 column that holds everything that makes two values
% the same: class, dimensions, sparsity, complexity and every bit of the
% data (so NaN payloads and the sign of zero count), cell entries in
% order (structs and function handles, which only inputs hold, by their
% fields and their text). Two values are bitwise the same exactly when their columns are
% isequal.
  c = class (x);
  sz = size (x);
  k = [uint64(numel (c)); uint64(double (c(:))); uint64(numel (sz)); uint64(sz(:)); ...
       uint64(issparse (x)); uint64(isnumeric (x) && iscomplex (x))];
  if (iscell (x))
    parts = cellfun (@value_bits, x(:), 'UniformOutput', false);
    k = [k; vertcat(uint64 ([]), parts{:})];
  elseif (isnumeric (x) || islogical (x) || ischar (x))
    if (issparse (x))
      x = full (x);
    end
    if (iscomplex (x))
      x = [real(x(:)); imag(x(:))];
    end
    x = x(:);
    if (islogical (x) || ischar (x))
      k = [k; uint64(double (x))];
    elseif (isa (x, 'double'))
      k = [k; typecast(x, 'uint64')];
    else
      k = [k; uint64(typecast (x, 'uint8'))(:)];
    end
  elseif (isstruct (x))
    f = fieldnames (x);
    k = [k; value_bits(f); value_bits(struct2cell (x(:)))];
  elseif (is_function_handle (x))
    k = [k; value_bits(func2str (x))];
  else
    error ('value_bits: values of class %s are not compared', c);
  end
end
