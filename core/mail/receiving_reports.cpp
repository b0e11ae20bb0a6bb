#include "mail/receiving_reports.h"

#include <string_view>

#include "base/records.h"
#include "commands/mail_commands_client.h"
#include "seam/ui_seam.h"

namespace qovra {

int ApplyMailReports(SqliteDb& db, const pugi::xml_node& report, void* bar) {
  if (!db.IsOpen()) return 0;
  int64_t count = 0;
  for (pugi::xml_node n = report.first_child(); n; n = n.next_sibling())
    if (n.type() == pugi::node_element) ++count;
  ProgressCallback(bar, count, 0);
  SqliteTransaction tx(db);
  if (!tx.Active()) return 0;
  int updated = 0;
  int64_t done = 0;
  for (pugi::xml_node n = report.first_child(); n; n = n.next_sibling()) {
    if (n.type() != pugi::node_element) continue;
    ProgressCallback(bar, count, ++done);
    const std::string_view suid = n.attribute("suid").value();
    const pugi::xml_attribute r = n.attribute("received_time");
    const pugi::xml_attribute d = n.attribute("read_time");
    const std::string_view received = r ? std::string_view(r.value()) : kZeroTimeText;
    const std::string_view read = d ? std::string_view(d.value()) : kZeroTimeText;
    if (!IsServerCopyId(suid) || !IsTimeText(received) || !IsTimeText(read) ||
        received == kZeroTimeText)
      continue;
    SqliteStatement st =
        read == kZeroTimeText
            ? db.Prepare("UPDATE ecm_recipients SET received_time=? WHERE suid=?")
            : db.Prepare("UPDATE ecm_recipients SET received_time=?,read_time=? WHERE suid=?");
    st.Bind(1, received);
    if (read == kZeroTimeText) {
      st.Bind(2, suid);
    } else {
      st.Bind(2, read);
      st.Bind(3, suid);
    }
    if (!st.Run()) return 0;  // rolled back
    ++updated;
  }
  return tx.Commit() ? updated : 0;
}

}  // namespace qovra
