// The meaning of Windows' errors on the plug-in's DLL.
#include "appid/file_trouble.h"

// Windows' error numbers (winerror.h).
enum : uint32_t {
    ErrorFileNotFound = 2,
    ErrorPathNotFound = 3,
    ErrorAccessDenied = 5,
    ErrorSharingViolation = 32,
    ErrorLockViolation = 33,
    ErrorHandleDiskFull = 39,
    ErrorDiskFull = 112,
    ErrorInvalidName = 123,
    ErrorBadPathname = 161,
    ErrorUserMappedFile = 1224,
};

FileTrouble TroubleFor(uint32_t windowsError) {
    switch (windowsError) {
    case ErrorFileNotFound:
    case ErrorPathNotFound:
    case ErrorInvalidName:
    case ErrorBadPathname: return FileTrouble::Missing;
    // A standard user may read Program Files but not change it: the denial
    // is the folder's, not a sign that XMPlay holds the file.
    case ErrorAccessDenied: return FileTrouble::ProtectedFolder;
    case ErrorSharingViolation:
    case ErrorLockViolation:
    case ErrorUserMappedFile: return FileTrouble::InUse;
    case ErrorHandleDiskFull:
    case ErrorDiskFull: return FileTrouble::DiskFull;
    default: return FileTrouble::Other;
    }
}
