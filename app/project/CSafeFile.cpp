#include "CSafeFile.h"

#include "dao/dao.h"

bool CSafeFile::CommitDatabase() {
    return Commit([](const std::string& temp, const std::string& target) { dao::DBEngine::ReplaceDatabase(temp, target); });
}
