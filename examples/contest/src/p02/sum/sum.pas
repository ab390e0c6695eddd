program sum;
var
  n, i: longint;
  x, s: int64;
begin
  assign(input, 'sum.in');
  reset(input);
  assign(output, 'sum.out');
  rewrite(output);
  read(n);
  s := 0;
  for i := 1 to n do
  begin
    read(x);
    s := s + x;
  end;
  writeln(s);
  close(output);
end.
