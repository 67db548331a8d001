#pragma once

namespace vellico::platform::walk {

// True when the open file `fd` lies on a file system whose every request may
// go over a network: NFS, SMB, AFS, Ceph, 9P and the cluster file systems,
// and FUSE (sshfs, rclone and the like; a FUSE file system on a local disk
// answers from another process, so it waits much as a share does). False
// when unknown.
bool onRemoteFileSystem(int fd);

} // namespace vellico::platform::walk
