// Reading PostgreSQL rows: column types as field types, and binary values as numbers, text or
// bytes.
#include "pg_rows.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "faultsim.h"
#include "utf8_text.h"

namespace {

// Type identifiers of the server's built-in types (its catalog's fixed oids).
enum : Oid {
  kBool = 16,
  kBytea = 17,
  kChar = 18,
  kName = 19,
  kInt8 = 20,
  kInt2 = 21,
  kInt4 = 23,
  kText = 25,
  kOid = 26,
  kJson = 114,
  kXml = 142,
  kFloat4 = 700,
  kFloat8 = 701,
  kUnknown = 705,
  kBpchar = 1042,
  kVarchar = 1043,
  kNumeric = 1700,
  kJsonb = 3802,
};

constexpr LONGLONG kLongTextSize = 0x3FFFFFFF;    // characters
constexpr LONGLONG kLongBinarySize = 0x7FFFFFFF;  // bytes
constexpr LONG kFixed = adFldMayBeNull | adFldFixed;

template <class T>
std::unique_ptr<T[]> new_array(size_t n) {
  if (FaultSimStep())
    return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[n]());
}

uint64_t big_endian(const char* data, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i)
    value = (value << 8) | static_cast<unsigned char>(data[i]);
  return value;
}

// The declared length of varchar(n) and char(n), or 0.
LONGLONG declared_length(int modifier) {
  return modifier >= 4 ? modifier - 4 : 0;
}

struct ColumnType {
  ColumnDescription description;
  CellType cell;
};

ColumnType describe(Oid type, int modifier) {
  switch (type) {
    case kBool:
      return {{ColumnKind::kStored, adBoolean, kFixed, 2}, CellType::kBoolean};
    case kInt2:
      return {{ColumnKind::kStored, adSmallInt, kFixed, 2}, CellType::kInteger};
    case kInt4:
      return {{ColumnKind::kStored, adInteger, kFixed, 4}, CellType::kInteger};
    case kInt8:
    case kOid:
      return {{ColumnKind::kStored, adBigInt, kFixed, 8}, CellType::kInteger};
    case kFloat4:
      return {{ColumnKind::kStored, adSingle, kFixed, 4}, CellType::kReal};
    case kFloat8:
      return {{ColumnKind::kStored, adDouble, kFixed, 8}, CellType::kReal};
    case kNumeric:
      return {{ColumnKind::kText, adNumeric, kFixed, 19}, CellType::kText};
    case kVarchar:
    case kBpchar:
      if (declared_length(modifier) > 0)
        return {{ColumnKind::kText, type == kBpchar ? adWChar : adVarWChar,
                 type == kBpchar ? kFixed : adFldMayBeNull, declared_length(modifier)},
                CellType::kText};
      [[fallthrough]];
    case kText:
    case kName:
    case kChar:
    case kJson:
    case kJsonb:
    case kXml:
    case kUnknown:
      return {{ColumnKind::kText, adLongVarWChar, adFldLong | adFldMayBeNull, kLongTextSize},
              CellType::kText};
    default:
      return {{ColumnKind::kBinary, adLongVarBinary, adFldLong | adFldMayBeNull, kLongBinarySize},
              CellType::kBytes};
  }
}

// The decimal text of a numeric in the server's binary form: counts of base-10000 digits,
// the weight of the first, a sign word and the digits shown after the point, then the digits.
// Writes into out (at least NumericTextCapacity units); returns the units written, or 0 for a
// malformed value.
constexpr uint16_t kNumericNegative = 0x4000;
constexpr uint16_t kNumericNaN = 0xC000;
constexpr uint16_t kNumericPlusInfinity = 0xD000;
constexpr uint16_t kNumericMinusInfinity = 0xF000;

size_t numeric_text_capacity(const char* data, int length) {
  if (length < 8)
    return 16;
  const int16_t weight = static_cast<int16_t>(big_endian(data + 2, 2));
  const int16_t scale = static_cast<int16_t>(big_endian(data + 6, 2));
  return 16 + 4 * static_cast<size_t>(weight > 0 ? weight + 1 : 1) +
         static_cast<size_t>(scale > 0 ? scale : 0);
}

size_t numeric_text(const char* data, int length, char16_t* out) {
  if (length < 8)
    return 0;
  const int count = static_cast<int16_t>(big_endian(data, 2));
  const int weight = static_cast<int16_t>(big_endian(data + 2, 2));
  const uint16_t sign = static_cast<uint16_t>(big_endian(data + 4, 2));
  const int scale = static_cast<int16_t>(big_endian(data + 6, 2));
  if (count < 0 || length < 8 + 2 * count || scale < 0)
    return 0;
  size_t n = 0;
  auto put = [&](const char* text) {
    while (*text)
      out[n++] = static_cast<char16_t>(*text++);
  };
  if (sign == kNumericNaN) {
    put("NaN");
    return n;
  }
  if (sign == kNumericPlusInfinity || sign == kNumericMinusInfinity) {
    put(sign == kNumericPlusInfinity ? "Infinity" : "-Infinity");
    return n;
  }
  auto digit = [&](int i) -> int {
    return i >= 0 && i < count ? static_cast<int>(big_endian(data + 8 + 2 * i, 2)) : 0;
  };
  if (sign == kNumericNegative)
    out[n++] = u'-';
  if (weight < 0) {
    out[n++] = u'0';
  } else {
    bool leading = true;
    for (int i = 0; i <= weight; ++i) {
      const int d = digit(i);
      for (int place = 1000; place >= 1; place /= 10) {
        const int figure = d / place % 10;
        if (leading && figure == 0 && !(i == weight && place == 1))
          continue;
        leading = false;
        out[n++] = static_cast<char16_t>(u'0' + figure);
      }
    }
  }
  if (scale > 0) {
    out[n++] = u'.';
    int written = 0;
    for (int i = weight + 1; written < scale; ++i) {
      const int d = digit(i);
      for (int place = 1000; place >= 1 && written < scale; place /= 10, ++written)
        out[n++] = static_cast<char16_t>(u'0' + d / place % 10);
    }
  }
  return n;
}

}  // namespace

HRESULT PgRows::Create(PgResult&& result, std::unique_ptr<Rows>* out) {
  out->reset();
  if (FaultSimStep())
    return E_OUTOFMEMORY;
  std::unique_ptr<PgRows> rows(new (std::nothrow) PgRows(std::move(result)));
  if (!rows)
    return E_OUTOFMEMORY;
  const HRESULT hr = rows->Prepare();
  if (FAILED(hr))
    return hr;
  *out = std::move(rows);
  return S_OK;
}

PgRows::PgRows(PgResult&& result) : result_(std::move(result)) {
  rows_ = PQntuples(result_.Get());
  columns_ = PQnfields(result_.Get());
}

HRESULT PgRows::Prepare() {
  const size_t columns = static_cast<size_t>(columns_);
  name_of_ = new_array<const char16_t*>(columns + 1);
  description_of_ = new_array<ColumnDescription>(columns + 1);
  cell_of_ = new_array<CellType>(columns + 1);
  text_of_ = new_array<TextCell>(columns + 1);
  if (!name_of_ || !description_of_ || !cell_of_ || !text_of_)
    return E_OUTOFMEMORY;
  // The names, converted once into one block.
  size_t units = 0;
  for (int i = 0; i < columns_; ++i)
    units += std::strlen(PQfname(result_.Get(), i)) + 1;
  if (!names_.Reserve(units * sizeof(char16_t) + 1))
    return E_OUTOFMEMORY;
  char16_t* at = names_.Get<char16_t>();
  for (int i = 0; i < columns_; ++i) {
    const char* name = PQfname(result_.Get(), i);
    TaskMemory wide;
    size_t length = 0;
    if (!FromUtf8(name, std::strlen(name), &wide, &length))
      return E_OUTOFMEMORY;
    // UTF-16 never takes more units than UTF-8 takes bytes.
    std::memcpy(at, wide.Get(), (length + 1) * sizeof(char16_t));
    name_of_[i] = at;
    at += length + 1;
    const ColumnType type = describe(PQftype(result_.Get(), i), PQfmod(result_.Get(), i));
    description_of_[i] = type.description;
    cell_of_[i] = type.cell;
  }
  return S_OK;
}

const char16_t* PgRows::ColumnName(int column) const {
  return name_of_[column];
}

ColumnDescription PgRows::Describe(int column) {
  return description_of_[column];
}

HRESULT PgRows::MoveNext(REFCLSID, REFIID) {
  if (row_ < rows_)
    ++row_;
  return S_OK;
}

CellType PgRows::Type(int column) {
  return PQgetisnull(result_.Get(), row_, column) ? CellType::kNull : cell_of_[column];
}

bool PgRows::Bytes(int column, const BYTE** data, ULONGLONG* size) {
  *data = reinterpret_cast<const BYTE*>(PQgetvalue(result_.Get(), row_, column));
  *size = static_cast<ULONGLONG>(PQgetlength(result_.Get(), row_, column));
  return true;
}

bool PgRows::Text(int column, const char16_t** text, ULONGLONG* units) {
  TextCell& cell = text_of_[column];
  if (cell.row != row_) {
    const char* value = PQgetvalue(result_.Get(), row_, column);
    int length = PQgetlength(result_.Get(), row_, column);
    const Oid type = PQftype(result_.Get(), column);
    if (type == kNumeric) {
      if (!cell.text.Reserve(numeric_text_capacity(value, length) * sizeof(char16_t)))
        return false;
      cell.units = numeric_text(value, length, cell.text.Get<char16_t>());
    } else {
      if (type == kJsonb && length > 0) {
        // jsonb's binary form is a version byte before the text.
        ++value;
        --length;
      }
      if (!FromUtf8(value, static_cast<size_t>(length), &cell.text, &cell.units))
        return false;
    }
    cell.row = row_;
  }
  *text = cell.text.Get<char16_t>();
  *units = cell.units;
  return true;
}

LONGLONG PgRows::Integer(int column) {
  const char* value = PQgetvalue(result_.Get(), row_, column);
  switch (PQgetlength(result_.Get(), row_, column)) {
    case 1:
      return static_cast<unsigned char>(value[0]);  // bool
    case 2:
      return static_cast<int16_t>(big_endian(value, 2));
    case 4:
      return PQftype(result_.Get(), column) == kOid ? static_cast<LONGLONG>(big_endian(value, 4))
                                                    : static_cast<int32_t>(big_endian(value, 4));
    case 8:
      return static_cast<int64_t>(big_endian(value, 8));
    default:
      return 0;
  }
}

double PgRows::Real(int column) {
  const char* value = PQgetvalue(result_.Get(), row_, column);
  if (PQgetlength(result_.Get(), row_, column) == 4) {
    const uint32_t bits = static_cast<uint32_t>(big_endian(value, 4));
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  const uint64_t bits = big_endian(value, 8);
  double d = 0;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
