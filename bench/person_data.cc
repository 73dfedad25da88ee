#include "bench/person_data.h"

#include <string_view>

#include "mdb/oadate.h"

namespace bench {
namespace {

uint64_t Mix(uint64_t x) {  // splitmix64: cheap, well spread
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Surnames roughly by frequency: the common ones appear more than once.
constexpr std::u16string_view kSurnames =
    u"王王王李李李张张张刘刘陈陈杨杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程苏魏吕丁任沈姚卢姜崔钟谭陆汪范金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶黎贺顾毛郝龚邵万钱严覃武戴莫孔向汤";
constexpr std::u16string_view kGiven =
    u"伟芳娜敏静丽强磊军洋勇艳杰娟涛明超秀霞平刚桂英华玉兰萍红鹏飞建国文辉力明永健世广志义兴良海山仁波宁贵福生龙元全胜学祥才发武新利清"
    u"飞彬富顺信子杰涛昌成康星光天达安岩中茂进林有坚和彪博诚先敬震振壮会思群豪心邦承乐绍功松善厚庆磊民友裕河哲江超浩亮政谦亨奇固之轮翰朗伯宏言若鸣朋斌梁栋维启克伦翔旭鹏泽晨辰士以建家致树炎德行时泰盛雄琛钧冠策腾楠榕风航弘";
constexpr std::u16string_view kPlaces[] = {u"北京", u"上海", u"广东广州", u"四川成都", u"湖北武汉", u"浙江杭州",
                                           u"江苏南京", u"陕西西安", u"山东济南", u"河南郑州", u"湖南长沙", u"福建厦门"};
constexpr std::u16string_view kJobs[] = {u"教师", u"工程师", u"医生", u"会计", u"司机", u"厨师",
                                         u"律师", u"记者", u"护士", u"农民", u"销售", u"学生"};
constexpr std::u16string_view kHobbies[] = {u"读书", u"游泳", u"书法", u"象棋", u"登山", u"摄影",
                                            u"音乐", u"绘画", u"篮球", u"太极", u"园艺", u"旅行"};

template <size_t N>
std::u16string_view Pick(const std::u16string_view (&list)[N], uint64_t r) {
  return list[r % N];
}

std::u16string Number(uint64_t n) {
  std::u16string s;
  do {
    s.insert(s.begin(), static_cast<char16_t>(u'0' + n % 10));
    n /= 10;
  } while (n != 0);
  return s;
}

}  // namespace

const char16_t* ExactSearchName() { return u"王芳"; }

std::string MakePhoto(uint64_t seed, size_t bytes) {
  static const char kSignature[] = "\x89PNG\r\n\x1a\n";
  std::string out(bytes, '\0');
  uint64_t x = Mix(seed ^ 0x50484F544FULL);
  for (size_t i = 0; i < bytes; i += 8) {
    x = Mix(x);
    for (size_t k = 0; k < 8 && i + k < bytes; ++k) out[i + k] = static_cast<char>(x >> (8 * k));
  }
  for (size_t i = 0; i < 8 && i < bytes; ++i) out[i] = kSignature[i];
  return out;
}

Person MakePerson(uint64_t index, uint64_t photo_every, size_t photo_bytes) {
  uint64_t r = Mix(index);
  Person p;
  p.name.push_back(kSurnames[r % kSurnames.size()]);
  r = Mix(r);
  p.name.push_back(kGiven[r % kGiven.size()]);
  r = Mix(r);
  if (r % 10 >= 3) p.name.push_back(kGiven[(r >> 8) % kGiven.size()]);  // seven in ten have two
  // A few fixed pairs so that the exact search always finds someone.
  if (index % 500 == 7) p.name = ExactSearchName();
  r = Mix(r);
  p.male = (r & 1) != 0;

  r = Mix(r);
  p.profile = u"籍贯：";
  p.profile += Pick(kPlaces, r);
  p.profile += u"\r\n职业：";
  p.profile += Pick(kJobs, r >> 8);
  p.profile += u"\r\n爱好：";
  p.profile += Pick(kHobbies, r >> 16);
  p.profile += u"、";
  p.profile += Pick(kHobbies, r >> 24);
  p.profile += u"\r\n登记序号 ";
  p.profile += Number(index + 1);
  p.profile += u"，资料已核对。";

  r = Mix(r);
  mdb::CivilTime from{1940, 1, 1, 0, 0, 0};
  double first = mdb::CivilToOa(from);
  p.birth_oa = first + static_cast<double>(r % 29220);  // 80 years of days

  if (photo_every != 0 && index % photo_every == 0) p.photo = MakePhoto(index, photo_bytes);
  return p;
}

}  // namespace bench
