-- Address-book template (eca.edb). Texts are UTF-8; company_id and
-- job_title_id are 0 when none; parent_id is 0 for a top-level group. The
-- groups table carries "[parent_id] INTEGER DEFAULT 0" literally, the text
-- that the address book's schema repair looks for.

CREATE TABLE eca_contacts (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  first_name TEXT NOT NULL DEFAULT '',
  middle_name TEXT NOT NULL DEFAULT '',
  last_name TEXT NOT NULL DEFAULT '',
  email TEXT NOT NULL DEFAULT '',
  company_id INTEGER NOT NULL DEFAULT 0,
  job_title_id INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE eca_companies (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  name TEXT NOT NULL DEFAULT ''
);

CREATE TABLE eca_job_titles (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  name TEXT NOT NULL DEFAULT ''
);

CREATE TABLE eca_groups (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  name TEXT NOT NULL DEFAULT '',
  [parent_id] INTEGER DEFAULT 0
);

CREATE TABLE eca_group_contacts (
  group_id INTEGER NOT NULL,
  contact_id INTEGER NOT NULL
);

CREATE UNIQUE INDEX igroup_id_contact_id on eca_group_contacts (group_id,contact_id);
CREATE INDEX ieca_group_contacts_contact ON eca_group_contacts (contact_id);
CREATE INDEX ieca_contacts_email ON eca_contacts (email);
CREATE INDEX ieca_groups_parent ON eca_groups (parent_id,name);
CREATE INDEX ieca_companies_name ON eca_companies (name);
CREATE INDEX ieca_job_titles_name ON eca_job_titles (name);
