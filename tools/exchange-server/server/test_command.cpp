// The test command: a reply carrying files chosen by the request, so that
// clients' file handling can be driven from tests.
#include "base64.h"
#include "commands.h"

namespace exchange {

CommandReply TestFilesCommand(CommandContext& ctx) {
  CommandReply reply;
  for (pugi::xml_node f = ctx.request.root.child("file"); f; f = f.next_sibling("file")) {
    ReplyFile file;
    file.name = f.attribute("name").as_string();
    file.type = f.attribute("type").as_int(1);
    file.skip = std::string_view(f.attribute("skip").as_string("1")) == "1";
    if (!Base64Decode(f.attribute("data").as_string(), file.bytes))
      return CommandReply::Enciphered(kResMalformed);
    if (f.attribute("raw").as_bool()) {
      reply.files.push_back(std::move(file));
    } else if (!reply.AttachFile(file.name, file.type, file.skip, std::move(file.bytes))) {
      return CommandReply::Enciphered(kResMalformed);
    }
  }
  return reply;
}

}  // namespace exchange
