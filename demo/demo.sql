-- The demo database of tallyplot: 37 groups ("number of racks selected",
-- 1 to 37) of 250 evaluated cases each, with one 0/1 flag per resource
-- constraint, and the `sums` table that adds three series of its own.
--
-- Everything is deterministic: each resource's exceedance rate is a smooth
-- curve of the number of racks, turned into an exact count of flagged cases
-- per group, and which cases carry the flag is decided by ranking them on a
-- CRC32 of (resource, group, case). No RAND, so every load gives the same
-- chart. 250 cases per group keep every percentage a multiple of 0.4, so
-- the numbers of the summary table stay short. Reloading drops and
-- recreates both databases.

DROP DATABASE IF EXISTS vetch_output;
DROP DATABASE IF EXISTS vetch_data;
CREATE DATABASE vetch_output;
CREATE DATABASE vetch_data;

USE vetch_output;

-- How fast each resource runs out as racks are added: the share of cases
-- that exceed it is top / (1 + exp(-(racks - mid) / width)), a logistic
-- curve that reaches half of `top` at `mid` racks. `top` = 0 means the
-- resource is never exceeded. Crew-tended variants sit below their plain
-- ones.
CREATE TEMPORARY TABLE demo_resource (
  col VARCHAR(32) PRIMARY KEY,
  top DOUBLE NOT NULL,
  mid DOUBLE NOT NULL,
  width DOUBLE NOT NULL
);
INSERT INTO demo_resource (col, top, mid, width) VALUES
  ('crewtime_xcd',           0.95, 14.0, 3.0),
  ('energy_xcd',             0.90, 17.0, 3.0),
  ('energy_crewtend_xcd',    0.60, 23.0, 3.5),
  ('crewtrng_xcd',           0.80, 21.0, 4.0),
  ('acoustics_xcd',          0.75, 19.0, 5.0),
  ('acoustics_crewtend_xcd', 0.45, 27.0, 5.0),
  ('upmass_xcd',             0.70, 26.0, 4.0),
  ('MTL_xcd',                0.50, 15.0, 4.0),
  ('MTL_crewtend_xcd',       0.30, 22.0, 5.0),
  ('stowage_xcd',            0.55, 30.0, 3.5),
  ('middecks_xcd',           0.35, 33.0, 3.0),
  ('LTL_xcd',                0.25, 29.0, 4.0),
  ('science_xcd',            0.70,  9.0, 2.5),
  ('keepalive_xcd',          0.00, 0.0, 1.0),
  ('LTL_crewtend_xcd',       0.00, 0.0, 1.0);

-- One row per (group, case, resource): the case's rank among its group on
-- that resource, and how many cases of the group exceed the resource.
CREATE TEMPORARY TABLE demo_flag AS
SELECT s, n, col, rnk <= exceeded AS flag
FROM (
  SELECT g.seq AS s, c.seq AS n, r.col,
         ROW_NUMBER() OVER (PARTITION BY g.seq, r.col
                            ORDER BY CRC32(CONCAT(r.col, '/', g.seq, '/', c.seq)),
                                     c.seq) AS rnk,
         ROUND(250 * r.top / (1 + EXP(-(g.seq - r.mid) / r.width))) AS exceeded
  FROM seq_1_to_37 AS g
  CROSS JOIN seq_1_to_250 AS c
  CROSS JOIN demo_resource AS r
) AS ranked;

CREATE TABLE fleen (
  idx INT PRIMARY KEY,
  selectednum INT NOT NULL,
  any_exceeded_inc TINYINT NOT NULL,
  crewtrng_xcd TINYINT NOT NULL,
  crewtime_xcd TINYINT NOT NULL,
  upmass_xcd TINYINT NOT NULL,
  keepalive_xcd TINYINT NOT NULL,
  stowage_xcd TINYINT NOT NULL,
  middecks_xcd TINYINT NOT NULL,
  energy_xcd TINYINT NOT NULL,
  energy_crewtend_xcd TINYINT NOT NULL,
  acoustics_xcd TINYINT NOT NULL,
  acoustics_crewtend_xcd TINYINT NOT NULL,
  MTL_xcd TINYINT NOT NULL,
  MTL_crewtend_xcd TINYINT NOT NULL,
  LTL_xcd TINYINT NOT NULL,
  LTL_crewtend_xcd TINYINT NOT NULL,
  science_xcd TINYINT NOT NULL,
  KEY (selectednum)
);

-- A case exceeds "all resources" when it exceeds any one of them.
INSERT INTO fleen
SELECT (s - 1) * 250 + n, s,
       MAX(flag),
       MAX(IF(col = 'crewtrng_xcd', flag, 0)),
       MAX(IF(col = 'crewtime_xcd', flag, 0)),
       MAX(IF(col = 'upmass_xcd', flag, 0)),
       MAX(IF(col = 'keepalive_xcd', flag, 0)),
       MAX(IF(col = 'stowage_xcd', flag, 0)),
       MAX(IF(col = 'middecks_xcd', flag, 0)),
       MAX(IF(col = 'energy_xcd', flag, 0)),
       MAX(IF(col = 'energy_crewtend_xcd', flag, 0)),
       MAX(IF(col = 'acoustics_xcd', flag, 0)),
       MAX(IF(col = 'acoustics_crewtend_xcd', flag, 0)),
       MAX(IF(col = 'MTL_xcd', flag, 0)),
       MAX(IF(col = 'MTL_crewtend_xcd', flag, 0)),
       MAX(IF(col = 'LTL_xcd', flag, 0)),
       MAX(IF(col = 'LTL_crewtend_xcd', flag, 0)),
       MAX(IF(col = 'science_xcd', flag, 0))
FROM demo_flag
GROUP BY s, n
ORDER BY s, n;

DROP TEMPORARY TABLE demo_flag;
DROP TEMPORARY TABLE demo_resource;

USE vetch_data;

-- Extra series: rows with increment = 1 are drawn after the fifteen fixed
-- ones; `outputfield` names the flag column without its "_xcd" suffix.
CREATE TABLE sums (
  id INT PRIMARY KEY,
  name VARCHAR(64) NOT NULL,
  outputfield VARCHAR(64),
  red VARCHAR(16) NOT NULL,
  green VARCHAR(16) NOT NULL,
  blue VARCHAR(16) NOT NULL,
  symbol VARCHAR(16) NOT NULL,
  increment INT
);
INSERT INTO sums (id, name, outputfield, red, green, blue, symbol, increment) VALUES
  (1, 'Science Return', 'science', '0.55', '0.27', '0.07', 'smalldiamond', 1),
  (2, 'Payload Keep-alive', 'keepalive', '0.5', '0.5', '0.5', 'cross', 1),
  (3, 'Payload LTL', 'LTL_crewtend', '0.2', '0.2', '0.2', 'smallsquare', 1),
  (4, 'Cold Stowage', 'stowage', '0', '0.6', '0.9', 'plus', 0);
