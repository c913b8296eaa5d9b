// Where the Windows program keeps its data files.
#pragma once

namespace marlix {

inline constexpr char kDataFolder[] = "c:\\postcode";

}  // namespace marlix
