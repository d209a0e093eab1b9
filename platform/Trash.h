// Moving a file or a folder to the user's trash, laid out as the freedesktop.org trash specification says,
// so that desktop file managers can show and restore what was trashed.
#pragma once

namespace plat {

// Moves the entry at path (a symbolic link is moved itself, never followed) into a trash on its own mount:
// the home trash ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash) when the entry is on the home trash's
// mount; otherwise $topdir/.Trash/$uid when $topdir/.Trash is a sticky folder and not a link, else
// $topdir/.Trash-$uid (made 0700), $topdir being the mount point of the entry. Trash folders that are
// missing are made.
//
// The entry keeps its name in the trash ("a.txt"), else gets "a.2.txt", "a.3.txt"... beside a ".trashinfo"
// file recording its original path and the deletion date. Nothing is ever copied: the entry is renamed
// without replacing anything, so a trash on another file system gives EXDEV. Answers 0 or the errno of the
// failing step: ENOENT when nothing is at path, EINVAL for a path without a name ("/", "..") or a folder
// moved into itself, ENOTDIR or EPERM when a trash folder is a link or belongs to someone else. On
// failure the entry stays where it was and no .trashinfo file is left behind.
int MoveToTrash(const char* path);

// Removes the records that a MoveToTrash of path wrote without its entry ever reaching the trash (a process
// killed between the two): the ".trashinfo" files of the trash that path would go to whose recorded path is
// path and whose item is missing. Nothing needs to stand at path; no trash folder is made. Answers 0, or
// the errno of a removal that failed.
int RemoveOrphanTrashRecords(const char* path);

// Flushes to the disk the files/ and info/ folders of the trashes that the entry at path goes to, so that
// what MoveToTrash or RemoveOrphanTrashRecords changed there is durable. Nothing needs to stand at path;
// no trash folder is made, and one that does not exist is skipped. Answers 0 or the first flush's errno.
int SyncTrashFor(const char* path);

}  // namespace plat
