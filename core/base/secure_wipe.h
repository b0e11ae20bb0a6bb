// Wiping secrets from memory and files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qovra {

// Overwrites size bytes at data with zeros in a way the compiler cannot drop.
void SecureWipe(void* data, size_t size);

// Wipes the string's bytes, then empties it. Copies made earlier (or buffers
// the string gave up when it grew) are not reached.
void WipeString(std::string& text);
void WipeString(std::u16string& text);

// Deletes the file. With wipe, the file is first opened for writing without
// changing its length and its whole length is overwritten with zero bytes in
// blocks of 8192 (stopping early when a write writes nothing), then flushed;
// when it cannot be opened for writing nothing happens and the file stays.
// Symbolic links are not followed when wiping. Returns true when the file
// was deleted.
bool WipeAndDeleteFile(std::u16string_view file_name, bool wipe);
bool WipeAndDeleteFile(std::string_view file_name, bool wipe);

}  // namespace qovra
