#include "recording/ErrorMessage.h"

#include <new>

#include "recording/File.h"
#include "recording/Time.h"
#include "resources/StringTable.h"

std::string ErrorMessageFor(const std::exception& e, const std::string& path)
{
    if (const auto* file = dynamic_cast<const CFileException*>(&e))
        return file->GetErrorMessage();
    // A short recording whose header date cannot be: the file cannot be opened.
    if (dynamic_cast<const CTimeException*>(&e))
        return CFileException::FormatMessage(CFileException::genericException, path);
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return Text::kOutOfMemory;
    return e.what();
}
