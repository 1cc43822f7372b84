// Alerts: one queued copy of a favourite per recipient of the alert's
// recipient query, each with its own report address.
#include "config/settings.h"
#include "platform/data_component.h"
#include "platform/db/connection.h"
#include "run/report_selection.h"
#include "util/data_source_key.h"
#include "util/text.h"
#include "util/utilities.h"

namespace postrix {
namespace {

// The alert's data source: the data component when the text names one,
// otherwise a connection of the db layer.
struct AlertSource {
  std::unique_ptr<DataComponent> component;
  std::unique_ptr<db::Connection> connection;
  std::string errorText;
};

AlertSource openAlertSource(const std::string& dsn, Utilities& utilities) {
  AlertSource source;
  if (dsn.find("qxdb") == std::string::npos) {
    source.connection = db::Connection::Open(dsn);
    return source;
  }
  source.component = std::make_unique<DataComponent>();
  source.component->suppressExceptions();
  if (!source.component->remoteConnect(dsn)) {
    source.errorText = "Could not connect to qxdb Server using the given connectionString";
    utilities.Debugger(source.errorText);
  } else if (!source.component->remoteLoad(dataSourceKey(dsn), source.errorText)) {
    source.component->remotedisconnect();
  }
  return source;
}

// Recipients must have an address; a text id must not be empty either.
std::string wrappedQuery(const std::string& query, const Variant& idType) {
  bool textIds = !idType.isEmpty() && !idType.isNull() && db::isTextType(idType.toInt32());
  return "SELECT ID, Email FROM (" + query + ") tmp WHERE id IS NOT NULL and email is not null" +
         (textIds ? " and id <> ''" : "") + " and email <> ''";
}

}  // namespace

void ReportSelection::expandAlert(const db::Recordset& row) {
  std::string reportId = row.Fields("report_id").toText();
  std::string type = row.Fields("type").toText();
  std::string toreplace = row.Fields("toreplace").toText();
  std::string dsn = row.Fields("dsn").toText();
  row.Fields("header").toText();
  row.Fields("footer").toText();
  std::string datasource = trimBlanks(row.Fields("datasource").toText());
  std::string reporturl = row.Fields("reporturl").toText();

  trapOn_ = true;
  AlertSource source = openAlertSource(dsn, u_);
  bool custom = toLower(type) == "custom";
  // The list name is data: quoted, so no type can change the statement.
  std::string query =
      custom ? datasource
             : "select id, email from reportsemails where type='" + sqlQuoted(type) + "'";
  std::string probeTarget = custom ? datasource : "reportsemails";

  db::Recordset recipients;
  std::string wrapped;
  if (!source.component || source.errorText.empty()) {
    db::Recordset probe;
    Variant idType = source.component
                         ? u_.ReturnDataType("ID", probeTarget, probe, *source.component, dsn)
                         : u_.ReturnDataType("ID", probeTarget, probe, *source.connection, dsn);
    wrapped = wrappedQuery(query, idType);
    if (source.component) {
      recipients = source.component->remoteExecute(dataSourceKey(dsn), wrapped, source.errorText);
      recipients.MoveFirst();
    } else {
      recipients = source.connection->Execute(wrapped);
    }
  }
  // Without a loaded data source there is no result to read: selection ends here.
  if (!recipients.isOpen()) throw Failure::objectNotSet();
  if (recipients.eof()) {
    log("WARNING: Alerts email result set is empty for report " + reportId +
        " with SQL: " + wrapped);
    return;
  }
  std::string key = Utilities::URLEncode(toreplace) + "=";
  if (!containsNoCase(reporturl, key)) {
    log("The value '" + toreplace +
        "' you entered in 'Value To Replace' in Schedule Mass Email Setup, is not contained "
        "inside the favourite");
    return;
  }
  int queued = 0;
  for (; !recipients.eof(); recipients.MoveNext()) {
    Favorite favorite = initFavorite(row);
    if (!s_.IgnoreSchedule() && !dueNow(*favorite)) break;
    const Variant& id = recipients.Fields("id");
    std::string idText = id.isNull() ? "" : id.toText();
    favorite->setReportURL(replaceAll(reporturl, key, Utilities::URLEncode(idText) + "="));
    favorite->setAlertID(idText);
    favorite->setReportEmails(recipients.Fields("email").toText());
    queue_->addReport(favorite);
    ++queued;
  }
  if (queued > 0) log("Queued " + std::to_string(queued) + " alert emails for report " + reportId);
}

}  // namespace postrix
