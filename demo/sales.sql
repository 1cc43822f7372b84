-- The demo's sales database: the data source of the alert's recipient query.
-- Three active representatives get the alert; the retired one does not.
CREATE TABLE salesreps (rep_id INTEGER PRIMARY KEY, name TEXT, email TEXT, active INTEGER);
INSERT INTO salesreps VALUES
  (7, 'Anna Berg', 'anna.berg@example.com', 1),
  (12, 'Tom Ruiz', 'tom.ruiz@example.com', 1),
  (15, 'Mia Chen', 'mia.chen@example.com', 1),
  (20, 'Ole Hansen', 'ole.hansen@example.com', 0);
