-- An older mail database, before mail_size, fau_data and send_flag: the
-- input of the main window's schema repair in tests. Never shipped.

CREATE TABLE ecm_mails (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  uuid VARCHAR(32) NOT NULL DEFAULT '',
  from_address VARCHAR(64) NOT NULL DEFAULT '',
  subject TEXT NOT NULL DEFAULT '',
  folder_id INTEGER NOT NULL DEFAULT 0,
  priority INTEGER NOT NULL DEFAULT 1,
  send_mode INTEGER NOT NULL DEFAULT 0,
  flag INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE ecm_recipients (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  mail_id INTEGER NOT NULL,
  suid VARCHAR(32) NOT NULL DEFAULT '',
  ymbox INTEGER NOT NULL DEFAULT 0,
  sent_time VARCHAR(19) NOT NULL DEFAULT '0000-00-00 00:00:00',
  received_time VARCHAR(19) NOT NULL DEFAULT '0000-00-00 00:00:00',
  read_time VARCHAR(19) NOT NULL DEFAULT '0000-00-00 00:00:00',
  to_address VARCHAR(64) NOT NULL DEFAULT ''
);

CREATE INDEX iecm_mails_uuid ON ecm_mails (uuid);
CREATE INDEX iecm_mails_folder ON ecm_mails (folder_id);
CREATE INDEX iecm_recipients_mail ON ecm_recipients (mail_id);
CREATE INDEX iecm_recipients_suid ON ecm_recipients (suid);
