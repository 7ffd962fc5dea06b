#pragma once
// Moniker plumbing shared by the running object table and the device enumerator.
#include "platform/graph.h"

#include <string>
#include <vector>

namespace tarvelo::graph {

// A copy of text in task memory for the caller (freed with CoTaskMemFree).
HRESULT copyToTaskMemory(const std::wstring& text, LPOLESTR* out);

// IEnumMoniker over a fixed list; holds a reference on each moniker.
class MonikerEnumerator {
public:
    static HRESULT create(const std::vector<IMoniker*>& monikers, IEnumMoniker** out);
};

}  // namespace tarvelo::graph
