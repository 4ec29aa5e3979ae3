// Direct access to bound instances for the module's hot paths: the C++ object an instance holds,
// a fast entry in front of a bound function, and one spare pointer that the record classes
// reserve in each instance. Everything a hot path does not take goes to the binding library's
// own function, so conversions, overload order and error texts stay the library's.
#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

#include <string>

namespace torvane_python {

// The Python type registered for T (valid once T is registered).
template <typename T>
PyTypeObject* TypeOf() {
  static PyTypeObject* const type = pybind11::detail::get_type_info(typeid(T))->type;
  return type;
}

// The T that `object` holds when it is a fully built instance of T's class or of a Python
// subclass of it; nullptr for anything the binding library must judge itself (other types,
// instances made by __new__ without __init__, multiple inheritance).
template <typename T>
T* Held(PyObject* object) {
  PyTypeObject* const type = TypeOf<T>();
  if (Py_TYPE(object) != type && !PyType_IsSubtype(Py_TYPE(object), type)) return nullptr;
  auto* inst = reinterpret_cast<pybind11::detail::instance*>(object);
  if (!inst->simple_layout || !inst->simple_holder_constructed) return nullptr;
  return static_cast<T*>(inst->simple_value_holder[0]);
}

// The spare pointer behind the binding library's instance layout, in instances of the classes
// whose type set-up reserved it (zero from allocation).
inline void*& SparePointer(PyObject* object) {
  return *reinterpret_cast<void**>(reinterpret_cast<char*>(object) +
                                   sizeof(pybind11::detail::instance));
}

// A hot path: returns a new reference, or nullptr with an error set, or nullptr without one to
// hand the call to the binding library's function.
using FastCall = PyObject* (*)(PyObject* const* args, Py_ssize_t nargs);

// A property whose read tries a fast path before its getter: reading a property calls the
// getter through the general call protocol, which costs as much again as reading a cached view.
// It is a subclass of property (isinstance holds, the getter, setter and docstring are the
// property's own) with one more pointer, its fast path.
inline FastCall& FastPropertyPath(PyObject* property) {
  return *reinterpret_cast<FastCall*>(reinterpret_cast<char*>(property) +
                                      PyProperty_Type.tp_basicsize);
}

inline void FastPropertyDealloc(PyObject* self) {
  PyTypeObject* const type = Py_TYPE(self);
  PyProperty_Type.tp_dealloc(self);
  Py_DECREF(type);  // instances of a heap type own a reference to it
}

inline PyObject* FastPropertyGet(PyObject* self, PyObject* object, PyObject* type) {
  if (object != nullptr && object != Py_None) {
    if (const FastCall fast = FastPropertyPath(self)) {
      PyObject* const result = fast(&object, 1);
      if (result != nullptr || PyErr_Occurred()) return result;
    }
  }
  return PyProperty_Type.tp_descr_get(self, object, type);
}

inline PyTypeObject* FastPropertyType() {
  static PyTypeObject* const type = [] {
    static PyType_Slot slots[] = {
        {Py_tp_descr_get, reinterpret_cast<void*>(FastPropertyGet)},
        {Py_tp_dealloc, reinterpret_cast<void*>(FastPropertyDealloc)},
        {Py_tp_doc, const_cast<char*>("")},  // what a bound property's __doc__ reads
        {0, nullptr}};
    static PyType_Spec layout = {"robot_interface.view_property",
                                 static_cast<int>(PyProperty_Type.tp_basicsize + sizeof(FastCall)),
                                 0, Py_TPFLAGS_DEFAULT, slots};
    PyObject* made =
        PyType_FromSpecWithBases(&layout, reinterpret_cast<PyObject*>(&PyProperty_Type));
    if (made == nullptr) throw pybind11::error_already_set();
    return reinterpret_cast<PyTypeObject*>(made);  // lives as long as the process
  }();
  return type;
}

// Replaces the bound method `name` of `cls` by one with the same name, docstring, module and
// bound capsule that tries `Fast` first (positional calls only) and otherwise calls the
// library's function.
template <FastCall Fast>
class FastEntry {
 public:
  static void Install(pybind11::handle cls, const char* name) {
    pybind11::setattr(cls, name, Wrap(ClassMember(cls, name)));
  }

  // The same for the property `name`: it becomes a fast property (above) whose reads take
  // `Fast` first; its getter (tried second) is this entry, its setter and docstring stay.
  static void InstallGetter(pybind11::handle cls, const char* name) {
    PyObject* const property = ClassMember(cls, name);
    if (!PyObject_TypeCheck(property, &PyProperty_Type)) {
      throw pybind11::type_error(std::string("no property ") + name);
    }
    pybind11::handle old(property);
    pybind11::object replaced =
        pybind11::reinterpret_steal<pybind11::object>(PyObject_CallFunctionObjArgs(
            reinterpret_cast<PyObject*>(FastPropertyType()), Wrap(old.attr("fget").ptr()).ptr(),
            old.attr("fset").ptr(), Py_None, old.attr("__doc__").ptr(), nullptr));
    if (!replaced) throw pybind11::error_already_set();
    FastPropertyPath(replaced.ptr()) = Fast;
    pybind11::setattr(cls, name, replaced);
  }

 private:
  static PyObject* Call(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (kwnames == nullptr || PyTuple_GET_SIZE(kwnames) == 0) {
      PyObject* const result = Fast(args, nargs);
      if (result != nullptr || PyErr_Occurred()) return result;
    }
    return PyObject_Vectorcall(fallback_, args, nargs, kwnames);
  }

  static PyObject* ClassMember(pybind11::handle cls, const char* name) {
    PyObject* const member =
        PyDict_GetItemString(reinterpret_cast<PyTypeObject*>(cls.ptr())->tp_dict, name);
    if (member == nullptr) throw pybind11::type_error(std::string("no member ") + name);
    return member;
  }

  // An instance method like `bound` that enters at Call.
  static pybind11::object Wrap(PyObject* bound) {
    if (!PyInstanceMethod_Check(bound) || fallback_ != nullptr) {
      throw pybind11::type_error("fast entry: not a bound function, or installed twice");
    }
    PyObject* const library = PyInstanceMethod_GET_FUNCTION(bound);
    auto* const function = reinterpret_cast<PyCFunctionObject*>(library);
    Py_INCREF(library);
    fallback_ = library;
    def_ = {function->m_ml->ml_name,
            reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Call)),
            METH_FASTCALL | METH_KEYWORDS, function->m_ml->ml_doc};
    pybind11::object fast = pybind11::reinterpret_steal<pybind11::object>(
        PyCFunction_NewEx(&def_, function->m_self, function->m_module));
    if (!fast) throw pybind11::error_already_set();
    pybind11::object method =
        pybind11::reinterpret_steal<pybind11::object>(PyInstanceMethod_New(fast.ptr()));
    if (!method) throw pybind11::error_already_set();
    return method;
  }

  static inline PyObject* fallback_ = nullptr;
  static inline PyMethodDef def_{};
};

}  // namespace torvane_python
