// The module entry points: GetPluginInfo answers the framework version to a live
// TulmKelMan of any framework copy in the process and to nothing else, without
// ever reading memory behind a token that is no such manager.
#include "LifecycleSupport.h"
#include "Origin.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <random>

namespace kelvarin::test {
namespace {

class TDerivedMan : public TulmKelMan {
public:
  using TulmKelMan::TulmKelMan;
  static const keltk::TClassInfo& StaticClass() {
    static keltk::TClassInfo info("TDerivedMan", &TulmKelMan::StaticClass());
    return info;
  }
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
};

// The Minimal module, loaded by hand so that its GetPluginInfo can be asked
// directly.
class EntryPointsTest : public LifecycleTest {
protected:
  void SetUp() override {
    LifecycleTest::SetUp();
    module = ::dlopen(fixture("Minimal").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << ::dlerror();
    getPluginInfo = reinterpret_cast<TGetPluginInfoFunc>(::dlsym(module, "GetPluginInfo"));
    ASSERT_NE(getPluginInfo, nullptr);
  }
  void TearDown() override {
    if (module != nullptr) ::dlclose(module);
    LifecycleTest::TearDown();
  }

  // What the module answers for `token`, and the length it reports.
  std::string ask(std::uint64_t token, int capacity = 64, int* length = nullptr) {
    std::vector<char> buffer(static_cast<std::size_t>(std::max(capacity, 1)), 'x');
    const int n = getPluginInfo(capacity > 0 ? buffer.data() : nullptr, capacity, token);
    if (length != nullptr) *length = n;
    return capacity > 0 ? std::string(buffer.data()) : std::string();
  }

  void* module = nullptr;
  TGetPluginInfoFunc getPluginInfo = nullptr;
};

TEST_F(EntryPointsTest, ALiveManagerOfAnotherCopyGetsTheVersion) {
  int length = 0;
  EXPECT_EQ(ask(SealOrigin(manager.get()), 64, &length), "ProdVersion=1.0.01.428\r\n");
  EXPECT_EQ(length, 24);
  // A small buffer gets the beginning, and the length of the whole answer.
  EXPECT_EQ(ask(SealOrigin(manager.get()), 5, &length), "Prod");
  EXPECT_EQ(length, 24);
  EXPECT_EQ(ask(SealOrigin(manager.get()), 0, &length), "");
  EXPECT_EQ(length, 24);
  EXPECT_EQ(PluginInfoFor(SealOrigin(manager.get())), "ProdVersion=1.0.01.428\r\n");
}

TEST_F(EntryPointsTest, EverythingElseGetsAnEmptyAnswer) {
  int length = -1;
  // A descendant of the manager class is no genuine manager.
  keltk::ObjectPtr<TDerivedMan> derived(keltk::CreateObject<TDerivedMan>(nullptr));
  derived->Log()->SetDumpOn(doNever);
  EXPECT_EQ(ask(SealOrigin(derived.get()), 64, &length), "");
  EXPECT_EQ(length, 0);
  EXPECT_EQ(PluginInfoFor(SealOrigin(derived.get())), "");

  // A plug-in, a freed manager, this test object, and plain numbers.
  TulmKel* plugin = addPlugin(*manager, "P", "/p/p.kel");
  EXPECT_EQ(ask(SealOrigin(plugin)), "");
  auto gone = makeManager(dir, "gone.log");
  gone->Log()->SetDumpOn(doNever);
  const TOriginToken goneToken = SealOrigin(gone.get());
  EXPECT_EQ(ask(goneToken), "ProdVersion=1.0.01.428\r\n");
  gone.reset();
  EXPECT_EQ(ask(goneToken), "");
  EXPECT_EQ(ask(SealOrigin(this)), "");
  EXPECT_EQ(ask(reinterpret_cast<std::uintptr_t>(manager.get())), ""); // not sealed
  for (std::uint64_t token : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{0x3C6E2B91},
                              ~std::uint64_t{0}, std::uint64_t{0x3C6E2B90}})
    EXPECT_EQ(ask(token, 64, &length), "") << token;
  std::mt19937_64 random(428);
  for (int i = 0; i < 1000; ++i)
    EXPECT_EQ(ask(random()), "");
}

TEST_F(EntryPointsTest, AManagerMadeByTheSharedLibraryIsKnownHereToo) {
  // The module brought the shared framework library and toolkit runtime module;
  // its toolkit copy creates a manager of the library's framework copy by name.
  void* toolkit = ::dlopen(loadedModuleFile("libkeltk.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(toolkit, nullptr);
  auto findClass = reinterpret_cast<const keltk::TClassInfo* (*)(std::string_view)>(
      ::dlsym(toolkit, "_ZN5keltk9FindClassESt17basic_string_viewIcSt11char_traitsIcEE"));
  ASSERT_NE(findClass, nullptr);
  const keltk::TClassInfo* theirs = findClass("TulmKelMan");
  ASSERT_NE(theirs, nullptr);
  EXPECT_NE(theirs, &TulmKelMan::StaticClass());
  keltk::ObjectPtr<keltk::TComponent> other(theirs->createComponent(nullptr));
  static_cast<TulmKelMan*>(other.get())->Log()->SetDumpOn(doNever);

  EXPECT_FALSE(IsGenuineManagerOfThisCopy(other.get()));
  EXPECT_TRUE(IsGenuineManager(other.get()));
  EXPECT_EQ(PluginInfoFor(SealOrigin(other.get())), "ProdVersion=1.0.01.428\r\n");
  EXPECT_EQ(ask(SealOrigin(other.get())), "ProdVersion=1.0.01.428\r\n");
  const void* address = other.get();
  other.reset();
  EXPECT_FALSE(IsGenuineManager(address));
  ::dlclose(toolkit);
}

// The note that leads other copies to this copy's registry is fixed at link time:
// no relocation of the shared library writes into it, and the library has no text
// relocations at all.
TEST_F(EntryPointsTest, TheCopyNoteNeedsNoRelocation) {
  struct Found {
    std::string name;
    const ElfW(Dyn) * dynamic = nullptr;
    ElfW(Addr) base = 0;
    std::vector<std::pair<ElfW(Addr), ElfW(Addr)>> notes; // [start, end) in memory
  } found;
  found.name = loadedModuleFile("libulmKELrp.so");
  ASSERT_FALSE(found.name.empty());
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        auto* f = static_cast<Found*>(data);
        if (info->dlpi_name == nullptr || f->name != info->dlpi_name) return 0;
        f->base = info->dlpi_addr;
        for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& ph = info->dlpi_phdr[i];
          if (ph.p_type == PT_DYNAMIC)
            f->dynamic = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + ph.p_vaddr);
          if (ph.p_type == PT_NOTE)
            f->notes.emplace_back(info->dlpi_addr + ph.p_vaddr,
                                  info->dlpi_addr + ph.p_vaddr + ph.p_memsz);
        }
        return 1;
      },
      &found);
  ASSERT_NE(found.dynamic, nullptr);
  ASSERT_FALSE(found.notes.empty());

  const ElfW(Rela)* rela = nullptr;
  std::size_t relaSize = 0;
  for (const ElfW(Dyn)* d = found.dynamic; d->d_tag != DT_NULL; ++d) {
    EXPECT_NE(d->d_tag, DT_TEXTREL);
    if (d->d_tag == DT_FLAGS) {
      EXPECT_EQ(d->d_un.d_val & DF_TEXTREL, 0u);
    }
    if (d->d_tag == DT_RELA) {
      // The loader may already have made the address absolute.
      ElfW(Addr) address = d->d_un.d_ptr;
      if (address < found.base) address += found.base;
      rela = reinterpret_cast<const ElfW(Rela)*>(address);
    }
    if (d->d_tag == DT_RELASZ) relaSize = d->d_un.d_val;
  }
  ASSERT_NE(rela, nullptr);
  for (std::size_t i = 0; i < relaSize / sizeof(ElfW(Rela)); ++i) {
    const ElfW(Addr) target = found.base + rela[i].r_offset;
    for (const auto& [start, end] : found.notes)
      EXPECT_FALSE(target >= start && target < end) << "relocation at " << rela[i].r_offset;
  }
}

} // namespace
} // namespace kelvarin::test
