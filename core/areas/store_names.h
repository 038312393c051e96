// The names of the store that area management uses: the declaration of the
// area tables and their records, the item kinds, the area row, the store's
// folder and file names, and the host's file calls. Area management lives
// in its own namespace and takes these from the store's by name, here once.
#ifndef QUIRE_AREAS_STORE_NAMES_H_
#define QUIRE_AREAS_STORE_NAMES_H_

#include "area_data.h"
#include "host_system.h"
#include "store_layout.h"

namespace quire::areas {

// The records of the area tables and the tables' declaration.
using plotbase::AreaData;
using plotbase::FaultSet;
using plotbase::Field;
using plotbase::ItemCommon;
using plotbase::FieldType;
using plotbase::MarkerAnalysisData;
using plotbase::MarkerData;
using plotbase::MarkerHeaderData;
using plotbase::MarkerPieceData;
using plotbase::ModelData;
using plotbase::ModelPieceData;
using plotbase::OptionGroupData;
using plotbase::OrderData;
using plotbase::OrderModelData;
using plotbase::OverrideData;
using plotbase::PieceData;
using plotbase::SizeEntryData;
using plotbase::SpliceData;
using plotbase::Table;
using plotbase::kAnalysisTable;
using plotbase::kAreaFields;
using plotbase::kOptionFields;
using plotbase::kOverrideFields;
using plotbase::table;
using plotbase::kFaultsTable;
using plotbase::kMarkerPiecesTable;
using plotbase::kMarkersTable;
using plotbase::kModelPiecesTable;
using plotbase::kModelsTable;
using plotbase::kOptionGroupsTable;
using plotbase::kOptionsTable;
using plotbase::kOrderModelsTable;
using plotbase::kOrdersTable;
using plotbase::kOverridesTable;
using plotbase::kPiecesTable;
using plotbase::kSizesTable;
using plotbase::kSplicesTable;
using plotbase::kStoreTables;
using plotbase::column_list;
using plotbase::counts_text;

// The item kinds.
using plotbase::Kind;
using plotbase::kMarker;
using plotbase::kModel;
using plotbase::kOrder;
using plotbase::kPiece;
using plotbase::kind_name;
// Names compared as the store compares them.
using plotbase::fold;

// The area row.
using plotbase::kAreaFormat;
using plotbase::kAreaFormatColumn;
using plotbase::kAreaMarkersColumn;
using plotbase::kAreaModelsColumn;
using plotbase::kAreaNameColumn;
using plotbase::kAreaNotationColumn;
using plotbase::kAreaOrdersColumn;
using plotbase::kAreaPiecesColumn;
using plotbase::kAreaPrecisionColumn;
using plotbase::area_row_insert_sql;
using plotbase::area_row_select_sql;

// The store's folder and its area files.
using plotbase::area_file_name;
using plotbase::kAreaFileSuffix;
using plotbase::store_directory;
using plotbase::valid_area_name;

// The fields a statement moves.
using plotbase::bind_fields;
using plotbase::read_fields;

// The host's file calls.
using plotbase::FileStatus;
using plotbase::InputFile;
using plotbase::file_status;
using plotbase::is_path_separator;
using plotbase::path_file_name;
using plotbase::path_in;
using plotbase::path_stem;
using plotbase::regular_files_in;
using plotbase::system_error_text;

}  // namespace quire::areas

#endif  // QUIRE_AREAS_STORE_NAMES_H_
