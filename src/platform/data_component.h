// DataComponent: the shape of the reporting application's data component,
// through which alert recipient queries reach a data source by its key.
//
// The data source text it is given holds a "qxdb=KEY" pair; that pair removed,
// the rest is a connection string for the db layer. remoteConnect opens it,
// remoteLoad checks that the key names the connected source, remoteExecute
// runs a query on it. Errors never escape: calls report them through their
// result and error text, as the component does after suppressExceptions.
// One thread uses a component.
#pragma once

#include <memory>       // the connection
#include <string>       // error texts
#include <string_view>  // inputs

#include "platform/db/connection.h"  // the connection behind the component

namespace postrix {

class DataComponent {
 public:
  // Errors are always reported through results; kept for the design's call order.
  void suppressExceptions() {}
  // Opens the data source; False when no connection could be made.
  bool remoteConnect(std::string_view dataSourceText);
  // True when a connection is open and key is the key of its data source text;
  // otherwise False with errorText set.
  bool remoteLoad(std::string_view key, std::string& errorText);
  // Runs sql on the loaded source. On failure errorText gets the database's
  // message and the result is a closed recordset.
  db::Recordset remoteExecute(std::string_view key, std::string& sql, std::string& errorText);
  void remotedisconnect();

  // The connection string remoteConnect opens for a data source text: the text
  // without its qxdb= pair.
  static std::string connectionStringOf(std::string_view dataSourceText);

 private:
  std::unique_ptr<db::Connection> connection_;
  std::string key_;
};

}  // namespace postrix
