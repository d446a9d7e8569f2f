#!/usr/bin/env bash
# Prints the SQL that builds the benchmark's data set, to be piped into the
# stock `mariadb` client of a throwaway server:
#
#   generate_sql.sh ROWS_PER_GROUP EXTRA_SERIES
#
# vetch_output.fleen gets 37 selectednum groups of ROWS_PER_GROUP rows each,
# with idx, selectednum, the fifteen fixed flag columns and EXTRA_SERIES extra
# flag columns (extra1_xcd, extra2_xcd, ...). vetch_data.sums gets one row with
# increment 1 per extra column, plus one row with increment 0 that the program
# must ignore.
#
# The rows are made by the server itself from the SEQUENCE engine's
# seq_0_to_<n> table in one INSERT ... SELECT, so a million rows load without
# sending them over the wire. Every flag comes from a fixed multiplicative
# hash of (idx, column), so the same arguments always give the same table.
# The chance that a flag is set grows linearly with selectednum, at a speed of
# its own per column (per mille per group); a speed of 0 means never exceeded.
set -euo pipefail

readonly GROUP_COUNT=37

# Fixed flag columns (any_exceeded_inc is derived from them) and their speeds.
readonly FIXED_COLUMNS=(crewtrng_xcd crewtime_xcd upmass_xcd keepalive_xcd
  stowage_xcd middecks_xcd energy_xcd energy_crewtend_xcd acoustics_xcd
  acoustics_crewtend_xcd MTL_xcd MTL_crewtend_xcd LTL_xcd LTL_crewtend_xcd)
readonly FIXED_SPEEDS=(8 14 20 0 11 5 17 9 6 2 12 4 0 0)
readonly EXTRA_SPEEDS=(3 7 10 15 1)
readonly GLYPHS=(circle cross plus square diamond asterisk underscore triangle
  smallcircle smallsquare smalldiamond smallasterisk)

usage() {
  echo "usage: generate_sql.sh ROWS_PER_GROUP EXTRA_SERIES" >&2
  exit 2
}

# SQL expression: 1 when the flag of hash column $1 is set at speed $2, else 0.
# (idx + c * 1000003) * 2654435761 mod 2^32, scaled to 0..999; BIGINT never
# overflows here because idx stays below 2^31.
flag_expr() {
  local column=$1 speed=$2
  if ((speed == 0)); then
    echo "0"
    return
  fi
  echo "(((s.seq + 1 + ${column} * 1000003) * 2654435761 % 4294967296) div 4294968 < (s.seq div ${ROWS} + 1) * ${speed})"
}

# Column definitions of the data table.
table_columns() {
  local extras=$1 name k
  echo "  idx INT UNSIGNED NOT NULL PRIMARY KEY,"
  echo "  selectednum TINYINT UNSIGNED NOT NULL,"
  echo "  any_exceeded_inc TINYINT NOT NULL,"
  for name in "${FIXED_COLUMNS[@]}"; do
    echo "  ${name} TINYINT NOT NULL,"
  done
  for ((k = 1; k <= extras; k++)); do
    echo "  extra${k}_xcd TINYINT NOT NULL,"
  done
}

# Select list of the INSERT: idx, selectednum, then every flag in column order.
select_list() {
  local extras=$1 i k fixed=()
  for i in "${!FIXED_COLUMNS[@]}"; do
    fixed+=("$(flag_expr $((i + 1)) "${FIXED_SPEEDS[$i]}")")
  done
  echo "  s.seq + 1,"
  echo "  s.seq div ${ROWS} + 1,"
  # Any resource exceeded: the largest of the fourteen fixed flags.
  local joined
  joined=$(printf ',\n    %s' "${fixed[@]}")
  echo "  GREATEST(${joined:1}),"
  for i in "${!fixed[@]}"; do
    echo "  ${fixed[$i]},"
  done
  for ((k = 1; k <= extras; k++)); do
    echo "  $(flag_expr $((20 + k)) "${EXTRA_SPEEDS[$(((k - 1) % ${#EXTRA_SPEEDS[@]}))]}"),"
  done
}

# One sums row per extra column, with a glyph and colour of its own.
sums_rows() {
  local extras=$1 k glyph red green blue
  for ((k = 1; k <= extras; k++)); do
    glyph=${GLYPHS[$(((k - 1) % ${#GLYPHS[@]}))]}
    red=$(printf '0.%03d' $(((k * 397) % 1000)))
    green=$(printf '0.%03d' $(((k * 631 + 200) % 1000)))
    blue=$(printf '0.%03d' $(((k * 173 + 500) % 1000)))
    echo "  ('Extra Series ${k}', 'extra${k}', '${red}', '${green}', '${blue}', '${glyph}', 1),"
  done
  echo "  ('Not Selected', 'no_such_column', '0', '0', '0', 'circle', 0);"
}

main() {
  [[ $# -eq 2 ]] || usage
  local rows=$1 extras=$2
  ROWS=$rows
  [[ "$rows" =~ ^[1-9][0-9]*$ && "$extras" =~ ^[0-9]+$ ]] || usage
  ((rows * GROUP_COUNT < 2 ** 31)) || usage
  local total=$((rows * GROUP_COUNT)) columns selects
  columns=$(table_columns "$extras")
  selects=$(select_list "$extras")

  cat <<SQL
DROP DATABASE IF EXISTS vetch_output;
DROP DATABASE IF EXISTS vetch_data;
CREATE DATABASE vetch_output;
CREATE DATABASE vetch_data;
CREATE TABLE vetch_output.fleen (
${columns%,}
) ENGINE=InnoDB;
INSERT INTO vetch_output.fleen
SELECT
${selects%,}
FROM vetch_output.seq_0_to_$((total - 1)) s;
CREATE TABLE vetch_data.sums (
  id INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name VARCHAR(64) NOT NULL,
  outputfield VARCHAR(64) NOT NULL,
  red VARCHAR(16) NOT NULL,
  green VARCHAR(16) NOT NULL,
  blue VARCHAR(16) NOT NULL,
  symbol VARCHAR(16) NOT NULL,
  increment INT NOT NULL
) ENGINE=InnoDB;
INSERT INTO vetch_data.sums (name, outputfield, red, green, blue, symbol, increment) VALUES
$(sums_rows "$extras")
ANALYZE TABLE vetch_output.fleen, vetch_data.sums;
SQL
}

main "$@"
