// Views of embedded records (imu, bms) and of record arrays (motorCmd, motorState, led,
// footPosition2Body, footSpeed2Body), made once per parent and slot and handed out again.
//
// A read of a record array still returns a new list, and every element is a view of its slot
// that keeps the parent alive while anything outside holds it. What changes is the cost: the
// binding library builds, registers and ties to its parent a new view object per element and
// read, and tears it all down when the list goes. Here each parent owns a cache of its views,
// made on first read, and a read only hands out new references to them. Keeping the parent
// alive costs nothing until the parent's last outside reference goes:
//
// - while the parent lives, its cache holds one reference to each view it made;
// - when the parent's last reference goes and some view is still held outside, the parent
//   stays: the cache hands those views' references over to their holders ("out") and owns the
//   parent once on their behalf;
// - when an out view's last reference goes, its deallocation parks it in the cache instead (the
//   cache takes that reference back); with the last one parked the cache lets go of the parent,
//   whose deallocation then destroys the views and the cache.
//
// So there is no reference cycle, a parent dies when the program lets go of it and its views,
// and a loop that reads views allocates nothing after the first read. A record-array read also
// hands back the list it returned last time when only the cache still holds that list and its
// elements are as made: only its former holder could have seen it, so it is as good as new,
// and a per-joint loop neither allocates nor frees lists. An out view that someone holds a weak
// reference to is destroyed instead of parked (the weak reference could revive it unseen).
// Views are ordinary non-owning instances of their class, registered with the binding library
// like its own views, so every other call treats them as before. Instances of Python subclasses
// of the parent records keep the library's own views: their deallocation runs the subclass's
// clean-up first and cannot be deferred.
#include <Python.h>
#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <utility>

#include "bindings.h"
#include "instances.h"
#include "torvane/records.h"

namespace py = pybind11;
using namespace TORVANE;

namespace torvane_python {
namespace {

constexpr int kMaxSlots = 30;  // HighState: imu, 20 motors, bms, 2 x 4 foot vectors

struct ViewCache;

struct ViewSlot {
  ViewCache* cache = nullptr;
  bool out = false;  // the cache holds no reference to the view, and it keeps the parent
};

struct ViewCache {
  PyObject* parent = nullptr;                // borrowed, and owned once while out > 0
  Py_ssize_t out = 0;                        // slots out
  std::array<PyObject*, kMaxSlots> views{};  // nullptr until first read
  std::array<ViewSlot, kMaxSlots> slots{};
  std::array<PyObject*, kMaxSlots> lists{};  // the last list read of the array at that slot
  bool closing = false;                      // the parent's deallocation is under way
};

destructor base_dealloc = nullptr;  // the binding library's instance deallocation

// Deallocation of the component classes (MotorCmd, IMU, ...): parks out views.
void ComponentDealloc(PyObject* self) {
  auto* slot = static_cast<ViewSlot*>(SparePointer(self));
  if (slot == nullptr || !slot->out) {  // not a view, or its cache is letting it go
    base_dealloc(self);
    return;
  }
  ViewCache* const cache = slot->cache;
  PyObject* const parent = cache->parent;
  slot->out = false;
  auto* inst = reinterpret_cast<py::detail::instance*>(self);
  if (inst->weakrefs == nullptr && !inst->has_patients) {
    Py_SET_REFCNT(self, 1);  // the cache's reference again
  } else {
    cache->views[slot - cache->slots.data()] = nullptr;
    base_dealloc(self);
  }
  // Last: letting go of the parent may deallocate it, its cache and its views.
  if (--cache->out == 0) Py_DECREF(parent);
}

// Deallocation of the records that embed others: defers while views are held outside, else
// destroys the cache and its views. Letting go of the last lists and of the views can run code
// (elements put into a list outside, callbacks of weak references to views), which could reach
// this parent again through a weak reference: the parent holds itself meanwhile.
void ParentDealloc(PyObject* self) {
  if (SparePointer(self) == nullptr) {
    base_dealloc(self);
    return;
  }
  Py_SET_REFCNT(self, 1);
  // Code run below may read the parent again and so give it a new cache: handled in turn.
  while (auto* cache = static_cast<ViewCache*>(SparePointer(self))) {
    cache->closing = true;
    // The last lists first: one still held outside holds its views, which then keep the
    // parent.
    std::array<PyObject*, kMaxSlots> lists{};
    std::swap(lists, cache->lists);
    for (PyObject* list : lists) Py_XDECREF(list);
    for (int i = 0; i < kMaxSlots; ++i) {
      PyObject* const view = cache->views[i];
      if (view != nullptr && Py_REFCNT(view) > 1) {
        cache->slots[i].out = true;
        ++cache->out;
        Py_DECREF(view);  // its holders' references remain
      }
    }
    cache->closing = false;
    if (cache->out > 0) return;  // the reference held here is the cache's now
    SparePointer(self) = nullptr;
    for (PyObject* view : cache->views) Py_XDECREF(view);
    delete cache;
  }
  if (Py_REFCNT(self) > 1) {  // taken up again meanwhile: it lives on
    Py_SET_REFCNT(self, Py_REFCNT(self) - 1);
    return;
  }
  Py_SET_REFCNT(self, 0);
  base_dealloc(self);
}

// The cache of `parent`, made on first use.
ViewCache* CacheOf(PyObject* parent) {
  auto* cache = static_cast<ViewCache*>(SparePointer(parent));
  if (cache == nullptr) {
    cache = new ViewCache;
    cache->parent = parent;
    SparePointer(parent) = cache;
  }
  return cache;
}

// Makes the view in slot `index` of `cache`: a non-owning instance of `type` viewing `value`,
// registered as the library's own views are. Returns it (the cache's reference).
PyObject* MakeView(ViewCache* cache, int index, PyTypeObject* type, void* value) {
  const py::detail::type_info* info = py::detail::get_type_info(type);
  PyObject* view = py::detail::make_new_instance(type);
  auto* inst = reinterpret_cast<py::detail::instance*>(view);
  inst->get_value_and_holder(info).value_ptr() = value;
  inst->owned = false;
  info->init_instance(inst, nullptr);
  ViewSlot& slot = cache->slots[index];
  slot.cache = cache;
  slot.out = false;
  SparePointer(view) = &slot;
  cache->views[index] = view;
  return view;
}

// One view-valued property of Parent: Count elements of Element at Offset, cache slots from
// First on; Count 0 is a single embedded record, read as the view itself.
template <typename Parent, typename Element, size_t Offset, int Count, int First>
PyObject* Get(PyObject* const* args, Py_ssize_t nargs) {
  static_assert(First + (Count == 0 ? 1 : Count) <= kMaxSlots, "cache too small");
  // Exactly the parent class: see above for subclasses.
  Parent* record =
      nargs == 1 && Py_TYPE(args[0]) == TypeOf<Parent>() ? Held<Parent>(args[0]) : nullptr;
  if (record == nullptr) return nullptr;
  char* const base = reinterpret_cast<char*>(record) + Offset;
  PyTypeObject* const type = TypeOf<Element>();
  try {
    ViewCache* const cache = CacheOf(args[0]);
    PyObject** const views = &cache->views[First];
    if (Count == 0) {
      PyObject* view = views[0] ? views[0] : MakeView(cache, First, type, base);
      Py_INCREF(view);
      return view;
    }
    // The last list this read returned, if nothing else holds it and it is as made: only its
    // holder could have seen it, so it is as good as new.
    PyObject*& last = cache->lists[First];
    if (last != nullptr && Py_REFCNT(last) == 1 && PyList_GET_SIZE(last) == Count &&
        std::memcmp(reinterpret_cast<PyListObject*>(last)->ob_item, views,
                    Count * sizeof(PyObject*)) == 0) {
      Py_INCREF(last);
      return last;
    }
    py::object list = py::reinterpret_steal<py::object>(PyList_New(Count));
    if (!list) return nullptr;
    bool complete = true;
    for (int i = 0; i < Count; ++i) complete &= views[i] != nullptr;
    if (!complete) {
      for (int i = 0; i < Count; ++i) {
        if (views[i] == nullptr) MakeView(cache, First + i, type, base + i * sizeof(Element));
      }
    }
    PyObject** const items = reinterpret_cast<PyListObject*>(list.ptr())->ob_item;
    std::memcpy(items, views, Count * sizeof(PyObject*));
    for (int i = 0; i < Count; ++i) Py_INCREF(items[i]);
    // Not while views are out (the parent is kept by them) or the parent is going: a kept list
    // would keep them.
    if (cache->out == 0 && !cache->closing) {
      PyObject* const replaced = last;
      last = list.inc_ref().ptr();
      Py_XDECREF(replaced);  // last: it may run code (see the parent's deallocation)
    }
    return list.release().ptr();
  } catch (...) {
    py::detail::try_translate_exceptions();
    return nullptr;
  }
}

#define TORVANE_VIEW(Parent, field, Element, Count, First)                               \
  FastEntry<Get<Parent, Element, offsetof(Parent, field), Count, First>>::InstallGetter( \
      m.attr(#Parent), #field)

}  // namespace

void view_component_setup(PyHeapTypeObject* heap_type) {
  PyTypeObject* type = &heap_type->ht_type;
  base_dealloc = type->tp_base->tp_dealloc;
  type->tp_basicsize += sizeof(void*);
  type->tp_dealloc = ComponentDealloc;
}

void view_parent_setup(PyHeapTypeObject* heap_type) {
  PyTypeObject* type = &heap_type->ht_type;
  base_dealloc = type->tp_base->tp_dealloc;
  type->tp_basicsize += sizeof(void*);
  type->tp_dealloc = ParentDealloc;
}

void install_record_views(py::module_& m) {
  TORVANE_VIEW(LowState, imu, IMU, 0, 0);
  TORVANE_VIEW(LowState, motorState, MotorState, 20, 1);
  TORVANE_VIEW(LowState, bms, BmsState, 0, 21);
  TORVANE_VIEW(LowCmd, motorCmd, MotorCmd, 20, 0);
  TORVANE_VIEW(LowCmd, bms, BmsCmd, 0, 20);
  TORVANE_VIEW(HighState, imu, IMU, 0, 0);
  TORVANE_VIEW(HighState, motorState, MotorState, 20, 1);
  TORVANE_VIEW(HighState, bms, BmsState, 0, 21);
  TORVANE_VIEW(HighState, footPosition2Body, Cartesian, 4, 22);
  TORVANE_VIEW(HighState, footSpeed2Body, Cartesian, 4, 26);
  TORVANE_VIEW(HighCmd, bms, BmsCmd, 0, 0);
  TORVANE_VIEW(HighCmd, led, LED, 4, 1);
}

}  // namespace torvane_python
