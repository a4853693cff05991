// Several Qt Test classes in one binary: each test file registers its class.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace kyvo::test {

using TestFactory = std::function<std::unique_ptr<QObject>()>;
std::vector<TestFactory>& registry();

template <class T>
struct Register {
    Register() {
        registry().push_back([] { return std::unique_ptr<QObject>(new T); });
    }
};

}  // namespace kyvo::test

#define KYVO_REGISTER_TEST(Class) static ::kyvo::test::Register<Class> kyvoRegister##Class
