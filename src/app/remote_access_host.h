// SPDX-License-Identifier: GPL-3.0-or-later
// The editor as the remote server's host: a phone's or a script's edit goes through the edit
// path like a control's (one undo step, named after the remote that made it, shown on the pages
// at once). Nothing here waits on the amplifier.
#pragma once

#include "app/editor_fwd.h"
#include "params/edit_path.h"
#include "remote/host.h"

namespace q7 {

// "遥控（访客 192.168.1.20）" / "Remote (guest 192.168.1.20)": the start of a remote step's name.
StepName remoteStepPrefix(const RemoteOrigin& who);

class EditorRemoteHost final : public RemoteHost {
public:
    explicit EditorRemoteHost(Editor& editor) : editor_(editor) {}

    ModeImage settings() const override;
    bool apply(const std::vector<RemoteValue>& values, const RemoteOrigin& who,
               std::string& error) override;
    RemoteStatus status() const override;
    bool recallMode(int mode, const RemoteOrigin& who, std::string& error) override;
    std::string modeFile() const override;
    bool putModeFile(const std::string& bytes, const RemoteOrigin& who,
                     std::string& error) override;

private:
    Editor& editor_;
    // False, with error, while a transfer runs: what a phone sends then would be overwritten.
    bool ready(std::string& error) const;
    void showStore();
};

} // namespace q7
