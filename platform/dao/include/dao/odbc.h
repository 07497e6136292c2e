// What the ODBC driver manager knows of its data sources. Kept apart from
// dao.h: the ODBC headers and the component runtime's do not mix.
#pragma once

#include <string>
#include <vector>

namespace dao {

// A data source by name, with its driver's description.
struct OdbcDataSource {
    std::string name;
    std::string driver;
};

// The user and system data sources, in the driver manager's order; empty
// when there are none.
std::vector<OdbcDataSource> OdbcDataSources();

}  // namespace dao
