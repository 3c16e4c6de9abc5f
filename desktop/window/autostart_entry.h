// Starting with the user's session: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/orvalin.desktop, that runs this program.
#pragma once

#include <filesystem>
#include <string>

namespace orvalin::desktop {

class AutostartEntry {
  public:
    // The entry in the user's autostart folder.
    static std::filesystem::path DefaultFile();

    explicit AutostartEntry(std::filesystem::path file = DefaultFile()) : file_(std::move(file)) {}

    // Writes the entry to start program (an absolute path); false when the
    // folder or the file could not be written.
    bool Register(const std::filesystem::path& program) const;
    // Deletes the entry; a missing one is no failure.
    void Unregister() const;

    const std::filesystem::path& File() const { return file_; }

    // The entry's text, with program quoted for the Exec key.
    static std::string EntryText(const std::filesystem::path& program);

  private:
    std::filesystem::path file_;
};

}  // namespace orvalin::desktop
