-- An address book of the old format: eca_groups without parent_id, no
-- unique index on the links, one link stored three times and one twice.
CREATE TABLE eca_contacts (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  first_name TEXT, middle_name TEXT, last_name TEXT, email TEXT,
  company_id INTEGER, job_title_id INTEGER
);
CREATE TABLE eca_companies (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT);
CREATE TABLE eca_job_titles (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT);
CREATE TABLE eca_groups (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT);
CREATE TABLE eca_group_contacts (group_id INTEGER, contact_id INTEGER);

INSERT INTO eca_companies (id, name) VALUES (1, 'Ёмкость');
INSERT INTO eca_groups (id, name) VALUES (1, 'Друзья'), (2, 'Work');
INSERT INTO eca_contacts VALUES (1, 'Ivan', '', 'Petrov', 'ivan@a.uz', 1, 0);
INSERT INTO eca_contacts VALUES (2, 'Olga', '', 'Sidorova', 'olga@a.uz', 0, 0);
INSERT INTO eca_contacts VALUES (3, 'Lone', '', 'Wolf', 'lone@a.uz', 0, 0);
INSERT INTO eca_group_contacts VALUES (1, 1), (1, 1), (2, 2), (1, 1), (2, 1), (2, 2);
