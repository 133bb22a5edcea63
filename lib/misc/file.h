/// File library: directories the run-time library keeps its own files in.
#ifndef LIB_MISC_FILE_H
#define LIB_MISC_FILE_H

#include <sys/types.h>

#include "lib/misc/basicTypes.h"

/// The calling user's private temporary directory,
/// "<TMPDIR or /tmp>/keltria-<user name>" (the effective user; the numeric
/// id when the password database has no entry). Created with mode 0700 when
/// missing; an existing one of the user's own is brought back to 0700.
/// Returns a new path owned by the caller (release with free), or NULL with
/// errno set: ELOOP when the path is a symbolic link, EPERM when another
/// user owns it, ENOTDIR when it is no directory, else the error of the
/// failed call.
char *File_GetSafeTmpDir(void);

/// Makes sure path is a directory, creating it and its missing parents with
/// mode (less the umask). TRUE when it is (now) a directory; FALSE with
/// errno set otherwise.
Bool File_EnsureDirectory(const char *path, mode_t mode);

#endif
