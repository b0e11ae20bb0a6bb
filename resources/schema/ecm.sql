-- Mail database template (ecm.edb): one row per mail, one row per recipient
-- copy. The columns mail_size, fau_data and send_flag are the ones that the
-- main window adds to older databases; they are written here exactly as it
-- adds them.

CREATE TABLE ecm_mails (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  uuid VARCHAR(32) NOT NULL DEFAULT '',
  from_address VARCHAR(64) NOT NULL DEFAULT '',
  subject TEXT NOT NULL DEFAULT '',
  folder_id INTEGER NOT NULL DEFAULT 0,
  priority INTEGER NOT NULL DEFAULT 1,
  send_mode INTEGER NOT NULL DEFAULT 0,
  flag INTEGER NOT NULL DEFAULT 0,
  [mail_size] INTEGER DEFAULT 0,
  [fau_data] VARCHAR(128)
);

CREATE TABLE ecm_recipients (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  mail_id INTEGER NOT NULL,
  suid VARCHAR(32) NOT NULL DEFAULT '',
  ymbox INTEGER NOT NULL DEFAULT 0,
  sent_time VARCHAR(19) NOT NULL DEFAULT '0000-00-00 00:00:00',
  received_time VARCHAR(19) NOT NULL DEFAULT '0000-00-00 00:00:00',
  read_time VARCHAR(19) NOT NULL DEFAULT '0000-00-00 00:00:00',
  to_address VARCHAR(64) NOT NULL DEFAULT '',
  [send_flag] INTEGER DEFAULT 0
);

CREATE INDEX iecm_mails_uuid ON ecm_mails (uuid);
CREATE INDEX iecm_mails_folder ON ecm_mails (folder_id);
CREATE INDEX iecm_recipients_mail ON ecm_recipients (mail_id);
CREATE INDEX iecm_recipients_suid ON ecm_recipients (suid);
