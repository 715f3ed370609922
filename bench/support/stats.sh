# Shell helpers of the benchmark scripts; sourced, not run.
# field NAME: the number after "NAME=" in each line of the input.
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
# The median of the numbers of the input, one a line.
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# A / B with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
